// Camera registration of one photo from its marks: each mark pairs a position in the photo with
// the 3D point it shows. Plain C++17, no Qt; every failure comes back as a refusal with a code and
// an English text (callers with a UI translate by the code).
//
// Camera model (the one the whole program uses):
//   x_cam = R * X + t, the camera looks along +z_cam, x_cam to the right of the photo, y_cam down;
//   (x, y) = (x_cam / z_cam, y_cam / z_cam), r^2 = x^2 + y^2, d = 1 + k1 r^2 + k2 r^4;
//   pixel position (px, py) = (fx * x * d + cx, fy * y * d + cy), origin at the top-left corner
//   of the photo, y down. A photo position (u, v) (0..1, v up) is the pixel (u * W, (1 - v) * H).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace orvreg {

struct RegMark {
    int id = 0;
    double u = 0, v = 0;          // photo position, 0..1, origin at the bottom-left, v up
    double point[3] = {0, 0, 0};  // world position of the same spot
    bool enabled = true;          // disabled marks are checked for duplicate ids only
};

struct SolveInput {
    int width = 0, height = 0;  // photo size in pixels
    std::vector<RegMark> marks;
    std::optional<double> focalPixels;  // a focal length known beforehand (EXIF, a sibling photo)
};

struct SolverCamera {
    double K[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};  // row-major, [[f, 0, cx], [0, f, cy], [0, 0, 1]]
    double k1 = 0, k2 = 0;
    double R[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};  // world to camera, row-major
    double t[3] = {0, 0, 0};

    double focal() const { return K[0]; }
    // Eye position in the world, -R^T t.
    void eye(double out[3]) const;
    // Pixel position of a world point; false when it is not in front of the camera.
    bool project(const double world[3], double* px, double* py) const;
};

// Why a solve was refused.
enum class SolveError {
    None,
    BadPhotoSize,     // width or height not positive
    BadFocal,         // the known focal length is not a positive finite number
    NotFinite,        // a mark with NaN or infinite numbers
    OutsidePhoto,     // a mark's photo position outside the photo
    DuplicateId,      // two marks with the same id
    TooFewMarks,      // fewer than 6 enabled marks (4 with a known focal length)
    Degenerate,       // 3D points all on one line or nearly, or all photo positions on one
    TooManyOutliers,  // too few marks agree with each other
    SolverFailed,     // the numeric solver threw or did not converge to a camera
};

// Reasons to look at a solve again, none of them a refusal.
enum class SolveWarning {
    FewMarks,       // fewer than 8 marks: no mark can be checked against the others
    SmallCoverage,  // the convex hull of the used marks covers less than half the photo
    HighRms,        // RMS above 1.5 px
};

struct MarkResidual {
    int id = 0;
    double pixels = 0;  // distance between the mark and the projection of its 3D point
    bool used = false;  // took part in the final solve (enabled and not an outlier)
};

struct SolveResult {
    bool ok = false;
    SolveError error = SolveError::None;
    std::string message;  // why it was refused, naming the mark where there is one
    SolverCamera camera;
    double rms = 0;                       // pixels, over the used marks
    bool focalSolved = false;             // the focal length came out of this solve
    bool distortionSolved = false;        // k1 came out of this solve
    std::vector<MarkResidual> residuals;  // one per enabled mark, in input order
    std::vector<int> outliers;            // ids of enabled marks left out as mis-clicked
    std::vector<SolveWarning> warnings;
    std::vector<std::string> warningTexts;  // one English text per warning, same order
    double coverage = 0;                    // convex hull area of the used marks / photo area
    int marksUsed = 0;
};

// Tunables; the defaults are what the program uses.
struct SolveOptions {
    double outlierPixels = 4.0;  // a mark further than this from the solved camera is an outlier
    double rmsWarnPixels = 1.5;
    double minCoverage = 0.5;
    int minMarksFocalFree = 6;
    int minMarksKnownFocal = 4;
    int minMarksOutlierCheck = 8;
    int minMarksDistortion = 12;
};

// Solves the camera of a photo from its enabled marks.
//  - 6 or more marks: focal length free (principal point at the photo centre, square pixels; k1
//    also free from 12 marks), refined from several starting focal lengths, the best RMS wins;
//  - 4 or 5 marks: only with a known focal length (SQPnP, then Levenberg-Marquardt);
//  - from 8 marks: marks that disagree with the others are dropped and listed in `outliers`.
SolveResult solveCamera(const SolveInput& input, const SolveOptions& options = {});

// Minimal number of enabled marks for a solve.
int minimumMarks(bool focalKnown, const SolveOptions& options = {});

// Focal length in pixels of a W x H photo from its EXIF block (FocalLengthIn35mmFilm, else
// FocalLength with FocalPlaneXResolution / FocalPlaneResolutionUnit); nothing when the file has
// no usable EXIF data.
std::optional<double> exifFocalPixels(const std::string& path, int width, int height);

}  // namespace orvreg
