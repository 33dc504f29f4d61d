#include "CameraSolver.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <set>
#include <sstream>

namespace orvreg {

namespace {

// Starting focal lengths as multiples of the longer photo side: from a long telephoto to a wide
// angle, about 1.4 apart.
constexpr double kFocalGuesses[] = {0.35, 0.5, 0.7, 1.0, 1.4, 2.0, 2.8, 4.0};

struct Fit {
    bool ok = false;
    double f = 0, k1 = 0;
    cv::Vec3d rvec, tvec;  // pose of the centred points
    double rms = 0;
};

std::string markText(int id) { return "mark " + std::to_string(id); }

bool finite(double x) { return std::isfinite(x); }

// Ratio of the second to the first singular value of a centred point cloud: 0 for points on one
// line, 1 for an evenly spread cloud; -1 when all points coincide.
double spreadRatio(const cv::Mat& centred)
{
    cv::Mat w;
    cv::SVD::compute(centred, w, cv::SVD::NO_UV);
    const double s0 = w.at<double>(0);
    if (!(s0 > 1e-12)) return -1;
    return w.at<double>(1) / s0;
}

double cross(const cv::Point2d& o, const cv::Point2d& a, const cv::Point2d& b)
{
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

// Area of the convex hull of the points (monotone chain).
double hullArea(std::vector<cv::Point2d> p)
{
    if (p.size() < 3) return 0;
    std::sort(p.begin(), p.end(),
              [](const cv::Point2d& a, const cv::Point2d& b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
    std::vector<cv::Point2d> h(2 * p.size());
    size_t k = 0;
    for (size_t i = 0; i < p.size(); ++i) {
        while (k >= 2 && cross(h[k - 2], h[k - 1], p[i]) <= 0) --k;
        h[k++] = p[i];
    }
    for (size_t i = p.size() - 1, lower = k + 1; i-- > 0;) {
        while (k >= lower && cross(h[k - 2], h[k - 1], p[i]) <= 0) --k;
        h[k++] = p[i];
    }
    h.resize(k - 1);
    double area = 0;
    for (size_t i = 0; i < h.size(); ++i) {
        const auto& a = h[i];
        const auto& b = h[(i + 1) % h.size()];
        area += a.x * b.y - b.x * a.y;
    }
    return std::abs(area) / 2;
}

cv::Matx33d intrinsics(double f, double cx, double cy) { return {f, 0, cx, 0, f, cy, 0, 0, 1}; }

// Pixel residual of each point under a pose and focal length of the centred points.
std::vector<double> residuals(const std::vector<cv::Point3d>& obj, const std::vector<cv::Point2d>& img, const Fit& fit,
                              double cx, double cy)
{
    cv::Matx33d R;
    cv::Rodrigues(fit.rvec, R);
    std::vector<double> out(obj.size());
    for (size_t i = 0; i < obj.size(); ++i) {
        const cv::Vec3d c = R * cv::Vec3d(obj[i].x, obj[i].y, obj[i].z) + fit.tvec;
        if (!(c[2] > 0)) {
            out[i] = std::numeric_limits<double>::infinity();
            continue;
        }
        const double x = c[0] / c[2], y = c[1] / c[2];
        const double r2 = x * x + y * y;
        const double d = 1 + fit.k1 * r2;
        out[i] = std::hypot(fit.f * x * d + cx - img[i].x, fit.f * y * d + cy - img[i].y);
    }
    return out;
}

double rmsOf(const std::vector<double>& r)
{
    if (r.empty()) return 0;
    double s = 0;
    for (double x : r) s += x * x;
    return std::sqrt(s / r.size());
}

template <typename T>
std::vector<T> pick(const std::vector<T>& v, const std::vector<int>& idx)
{
    std::vector<T> out;
    out.reserve(idx.size());
    for (int i : idx) out.push_back(v[i]);
    return out;
}

// Single-view calibration from one starting focal length: the pose for that focal length by
// SQPnP (which keeps the points in front of the camera), then Levenberg-Marquardt on pose, focal
// length and, when asked, k1, with the principal point fixed at (cx, cy) and square pixels.
Fit calibrateFrom(const std::vector<cv::Point3d>& obj, const std::vector<cv::Point2d>& img, double f0, bool withK1,
                  double cx, double cy)
{
    Fit fit;
    cv::Mat rvec, tvec;
    if (!cv::solvePnP(obj, img, cv::Mat(intrinsics(f0, cx, cy)), cv::noArray(), rvec, tvec, false, cv::SOLVEPNP_SQPNP))
        return fit;
    // Parameters: rotation (3), translation (3), focal length, k1.
    const int m = withK1 ? 8 : 7;
    cv::Vec<double, 8> p;
    for (int i = 0; i < 3; ++i) {
        p[i] = rvec.at<double>(i);
        p[3 + i] = tvec.at<double>(i);
    }
    p[6] = f0;
    p[7] = 0;
    const int n = int(obj.size());
    std::vector<cv::Point2d> proj;
    cv::Mat J;
    auto evaluate = [&](const cv::Vec<double, 8>& q, bool jacobian, double* cost) {
        const cv::Vec3d r(q[0], q[1], q[2]), t(q[3], q[4], q[5]);
        const cv::Mat K(intrinsics(q[6], cx, cy));
        const cv::Mat dist = (cv::Mat_<double>(4, 1) << q[7], 0, 0, 0);
        if (jacobian)
            cv::projectPoints(obj, r, t, K, dist, proj, J);
        else
            cv::projectPoints(obj, r, t, K, dist, proj);
        double c = 0;
        for (int k = 0; k < n; ++k) {
            const cv::Point2d e = proj[k] - img[k];
            c += e.dot(e);
        }
        *cost = c;
    };
    double cost = 0;
    evaluate(p, true, &cost);
    double lambda = 1e-3;
    for (int iter = 0; iter < 100; ++iter) {
        // Normal equations; columns of J: rvec 0-2, tvec 3-5, fx 6, fy 7, cx 8, cy 9, k1 10.
        cv::Mat A = cv::Mat::zeros(m, m, CV_64F), g = cv::Mat::zeros(m, 1, CV_64F);
        std::vector<double> row(m);
        for (int k = 0; k < 2 * n; ++k) {
            const double* j = J.ptr<double>(k);
            for (int a = 0; a < 6; ++a) row[a] = j[a];
            row[6] = j[6] + j[7];
            if (withK1) row[7] = j[10];
            const cv::Point2d e = proj[k / 2] - img[k / 2];
            const double res = (k % 2) ? e.y : e.x;
            for (int a = 0; a < m; ++a) {
                g.at<double>(a) += row[a] * res;
                for (int b = 0; b < m; ++b) A.at<double>(a, b) += row[a] * row[b];
            }
        }
        bool improved = false;
        while (lambda < 1e12) {
            cv::Mat Ad = A.clone();
            for (int a = 0; a < m; ++a) Ad.at<double>(a, a) *= 1 + lambda;
            cv::Mat step;
            if (!cv::solve(Ad, -g, step, cv::DECOMP_CHOLESKY)) {
                lambda *= 10;
                continue;
            }
            cv::Vec<double, 8> q = p;
            for (int a = 0; a < m; ++a) q[a] += step.at<double>(a);
            double c = 0;
            if (q[6] > 0) evaluate(q, false, &c);
            if (q[6] > 0 && c < cost) {
                const double gain = cost - c;
                p = q;
                cost = c;
                lambda = std::max(lambda / 10, 1e-9);
                improved = gain > 1e-12 * (1 + cost);
                break;
            }
            lambda *= 10;
        }
        if (!improved) break;
        evaluate(p, true, &cost);
    }
    fit.f = p[6];
    fit.k1 = withK1 ? p[7] : 0.0;
    fit.rvec = cv::Vec3d(p[0], p[1], p[2]);
    fit.tvec = cv::Vec3d(p[3], p[4], p[5]);
    if (!(fit.f > 0) || !finite(fit.f) || !finite(fit.k1) || std::abs(fit.k1) > 5) return fit;
    fit.rms = rmsOf(residuals(obj, img, fit, cx, cy));
    fit.ok = finite(fit.rms);  // infinite when a point is behind the camera
    return fit;
}

// Pose for a known focal length: SQPnP, then Levenberg-Marquardt on the reprojection error.
Fit poseKnownFocal(const std::vector<cv::Point3d>& obj, const std::vector<cv::Point2d>& img, double f, double cx,
                   double cy, bool refine = true)
{
    Fit fit;
    const cv::Mat K(intrinsics(f, cx, cy));
    cv::Mat rvec, tvec;
    if (!cv::solvePnP(obj, img, K, cv::noArray(), rvec, tvec, false, cv::SOLVEPNP_SQPNP)) return fit;
    if (refine)
        cv::solvePnPRefineLM(obj, img, K, cv::noArray(), rvec, tvec,
                             cv::TermCriteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 100, 1e-12));
    fit.f = f;
    fit.rvec = cv::Vec3d(rvec.ptr<double>());
    fit.tvec = cv::Vec3d(tvec.ptr<double>());
    fit.rms = rmsOf(residuals(obj, img, fit, cx, cy));
    fit.ok = finite(fit.rms);
    return fit;
}

// The best of the calibrations from the starting focal lengths.
Fit calibrateBest(const std::vector<cv::Point3d>& obj, const std::vector<cv::Point2d>& img,
                  const std::vector<double>& guesses, bool withK1, double cx, double cy, std::string* lastError)
{
    // Rank the starting focal lengths by how well a pose alone fits the marks with them, and
    // refine only from the most promising ones.
    constexpr size_t kRefined = 3;
    std::vector<std::pair<double, double>> ranked;  // (rms of the pose, focal length)
    for (double f0 : guesses) {
        try {
            const Fit pose = poseKnownFocal(obj, img, f0, cx, cy, false);
            ranked.emplace_back(pose.ok ? pose.rms : std::numeric_limits<double>::infinity(), f0);
        } catch (const cv::Exception& e) {
            *lastError = e.what();
        }
    }
    std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    if (ranked.size() > kRefined) ranked.resize(kRefined);
    Fit best;
    for (const auto& start : ranked) {
        Fit fit;
        try {
            fit = calibrateFrom(obj, img, start.second, withK1, cx, cy);
        } catch (const cv::Exception& e) {
            *lastError = e.what();
            continue;
        } catch (const std::exception& e) {
            *lastError = e.what();
            continue;
        }
        if (fit.ok && (!best.ok || fit.rms < best.rms)) best = fit;
    }
    return best;
}

// Marks that agree with one another (RANSAC): cameras fitted to samples of six marks with the
// focal length free, each scored by the marks it explains (MSAC: squared residuals, capped at the
// threshold). Every sample is tried when there are few, else random ones (fixed seed) until the
// best consensus is found with 99.9 % confidence. Empty when no sample gave a camera.
std::vector<int> ransacConsensus(const std::vector<cv::Point3d>& obj, const std::vector<cv::Point2d>& img, double f0,
                                 double threshold, double cx, double cy)
{
    constexpr int kSample = 6;
    const int n = int(obj.size());
    std::vector<std::vector<int>> samples;
    // All samples of six when that is at most 100 of them (up to 9 marks).
    if (n <= 9) {
        std::vector<bool> take(n, false);
        std::fill(take.begin(), take.begin() + kSample, true);
        do {
            std::vector<int> s;
            for (int k = 0; k < n; ++k)
                if (take[k]) s.push_back(k);
            samples.push_back(s);
        } while (std::prev_permutation(take.begin(), take.end()));
    }
    const bool exhaustive = !samples.empty();
    cv::RNG rng(0x5eed);
    const double cap = threshold * threshold;
    std::vector<int> best;
    double bestScore = std::numeric_limits<double>::infinity();
    int needed = exhaustive ? int(samples.size()) : 300;
    for (int iter = 0; iter < needed; ++iter) {
        std::vector<int> s;
        if (exhaustive) {
            s = samples[iter];
        } else {
            while (int(s.size()) < kSample) {
                const int k = rng.uniform(0, n);
                if (std::find(s.begin(), s.end(), k) == s.end()) s.push_back(k);
            }
        }
        Fit fit;
        try {
            fit = calibrateFrom(pick(obj, s), pick(img, s), f0, false, cx, cy);
        } catch (const cv::Exception&) {
            continue;
        }
        if (!fit.ok) continue;
        const auto r = residuals(obj, img, fit, cx, cy);
        std::vector<int> inliers;
        double score = 0;
        for (int k = 0; k < n; ++k) {
            const double r2 = r[k] * r[k];
            score += std::min(r2, cap);
            if (r2 <= cap) inliers.push_back(k);
        }
        if (score < bestScore) {
            bestScore = score;
            best = inliers;
            if (!exhaustive) {
                const double w = double(best.size()) / n;
                const double miss = 1 - std::pow(w, kSample);
                const int enough = miss <= 1e-9 ? 1 : int(std::ceil(std::log(1e-3) / std::log(miss)));
                // A few samples even when the first one explains every mark.
                needed = std::clamp(enough, 8, 300);
            }
        }
    }
    return best;
}

double median(std::vector<double> v)
{
    if (v.empty()) return 0;
    const size_t m = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + m, v.end());
    return v[m];
}

SolveResult refuse(SolveError error, std::string message)
{
    SolveResult r;
    r.error = error;
    r.message = std::move(message);
    return r;
}

std::string fmt(double x, int decimals)
{
    std::ostringstream s;
    s.setf(std::ios::fixed);
    s.precision(decimals);
    s << x;
    return s.str();
}

}  // namespace

void SolverCamera::eye(double out[3]) const
{
    for (int i = 0; i < 3; ++i) out[i] = -(R[0 * 3 + i] * t[0] + R[1 * 3 + i] * t[1] + R[2 * 3 + i] * t[2]);
}

bool SolverCamera::project(const double X[3], double* px, double* py) const
{
    double c[3];
    for (int i = 0; i < 3; ++i) c[i] = R[i * 3] * X[0] + R[i * 3 + 1] * X[1] + R[i * 3 + 2] * X[2] + t[i];
    if (!(c[2] > 0)) return false;
    const double x = c[0] / c[2], y = c[1] / c[2];
    const double r2 = x * x + y * y;
    const double d = 1 + k1 * r2 + k2 * r2 * r2;
    *px = K[0] * x * d + K[1] * y * d + K[2];
    *py = K[4] * y * d + K[5];
    return true;
}

int minimumMarks(bool focalKnown, const SolveOptions& options)
{
    return focalKnown ? options.minMarksKnownFocal : options.minMarksFocalFree;
}

SolveResult solveCamera(const SolveInput& in, const SolveOptions& opt)
{
    const int W = in.width, H = in.height;
    if (W <= 0 || H <= 0)
        return refuse(SolveError::BadPhotoSize,
                      "The photo has no size (" + std::to_string(W) + " x " + std::to_string(H) + " pixels).");
    const bool focalKnown = in.focalPixels.has_value();
    if (focalKnown && !(finite(*in.focalPixels) && *in.focalPixels > 0))
        return refuse(SolveError::BadFocal, "The known focal length is not a positive number.");

    // ---- check the marks
    std::set<int> ids;
    std::vector<int> enabled;  // indices into in.marks
    for (size_t i = 0; i < in.marks.size(); ++i) {
        const RegMark& m = in.marks[i];
        if (!ids.insert(m.id).second)
            return refuse(SolveError::DuplicateId, "Two marks have the same id " + std::to_string(m.id) + ".");
        if (!m.enabled) continue;
        if (!finite(m.u) || !finite(m.v) || !finite(m.point[0]) || !finite(m.point[1]) || !finite(m.point[2]))
            return refuse(SolveError::NotFinite, "The " + markText(m.id) + " has a position that is not a number.");
        if (m.u < 0 || m.u > 1 || m.v < 0 || m.v > 1)
            return refuse(SolveError::OutsidePhoto, "The " + markText(m.id) + " lies outside the photo.");
        enabled.push_back(int(i));
    }
    const int n = int(enabled.size());
    const int minimum = minimumMarks(focalKnown, opt);
    if (n < minimum) {
        std::string why = "Mapping needs at least " + std::to_string(opt.minMarksFocalFree) + " enabled marks";
        if (focalKnown)
            why = "Mapping needs at least " + std::to_string(opt.minMarksKnownFocal) + " enabled marks";
        else
            why += " (" + std::to_string(opt.minMarksKnownFocal) + " when the focal length is known)";
        return refuse(SolveError::TooFewMarks, why + "; the photo has " + std::to_string(n) + ".");
    }

    // World points centred on their mean, for a well-conditioned solve; pixel positions.
    cv::Vec3d centre(0, 0, 0);
    for (int i : enabled) centre += cv::Vec3d(in.marks[i].point[0], in.marks[i].point[1], in.marks[i].point[2]);
    centre *= 1.0 / n;
    std::vector<cv::Point3d> obj;
    std::vector<cv::Point2d> img;
    cv::Mat cloud3(n, 3, CV_64F), cloud2(n, 2, CV_64F);
    cv::Point2d imgMean(0, 0);
    for (int k = 0; k < n; ++k) {
        const RegMark& m = in.marks[enabled[k]];
        obj.emplace_back(m.point[0] - centre[0], m.point[1] - centre[1], m.point[2] - centre[2]);
        img.emplace_back(m.u * W, (1 - m.v) * H);
        imgMean += img.back();
    }
    imgMean *= 1.0 / n;
    for (int k = 0; k < n; ++k) {
        cloud3.at<double>(k, 0) = obj[k].x;
        cloud3.at<double>(k, 1) = obj[k].y;
        cloud3.at<double>(k, 2) = obj[k].z;
        cloud2.at<double>(k, 0) = img[k].x - imgMean.x;
        cloud2.at<double>(k, 1) = img[k].y - imgMean.y;
    }
    // Points spread less than this across their main direction count as one line.
    constexpr double kLineRatio = 0.02;
    try {
        const double s3 = spreadRatio(cloud3);
        if (s3 < kLineRatio)
            return refuse(SolveError::Degenerate, s3 < 0 ? std::string("All marks sit on the same 3D point.")
                                                         : std::string("The 3D points of the marks lie on one line (or "
                                                                       "nearly); spread them over the mesh."));
        const double s2 = spreadRatio(cloud2);
        if (s2 < kLineRatio)
            return refuse(SolveError::Degenerate,
                          "The marks lie on one line in the photo (or nearly); spread them over "
                          "the photo.");
    } catch (const cv::Exception& e) {
        return refuse(SolveError::SolverFailed, std::string("The solver failed: ") + e.what());
    }

    const double cx = W / 2.0, cy = H / 2.0;
    const double side = std::max(W, H);
    std::vector<double> guesses;
    if (focalKnown) guesses.push_back(*in.focalPixels);
    for (double g : kFocalGuesses) guesses.push_back(g * side);

    const bool focalFree = n >= opt.minMarksFocalFree;
    const bool withK1 = n >= opt.minMarksDistortion;
    std::string lastError;
    auto fitOn = [&](const std::vector<int>& idx) -> Fit {
        const auto o = pick(obj, idx);
        const auto p = pick(img, idx);
        if (!focalFree) {
            try {
                return poseKnownFocal(o, p, *in.focalPixels, cx, cy);
            } catch (const cv::Exception& e) {
                lastError = e.what();
                return Fit();
            }
        }
        Fit best = calibrateBest(o, p, guesses, false, cx, cy, &lastError);
        if (withK1) {
            // k1 starts at zero from the distortion-free fit (from the guesses when there is none).
            const std::vector<double> starts = best.ok ? std::vector<double>{best.f} : guesses;
            const Fit k1 = calibrateBest(o, p, starts, true, cx, cy, &lastError);
            if (k1.ok && (!best.ok || k1.rms <= best.rms)) best = k1;
        }
        return best;
    };

    std::vector<int> all(n);
    for (int k = 0; k < n; ++k) all[k] = k;
    std::vector<int> used = all;

    // ---- mis-clicked marks: a RANSAC consensus as the start, then every mark judged against the
    // camera fitted to the consensus until the set no longer changes.
    const bool checkOutliers = n >= opt.minMarksOutlierCheck;
    const int keepAtLeast = std::max(minimum, (2 * n + 2) / 3);
    Fit fit = fitOn(used);
    if (checkOutliers && fit.ok) {
        const double ransacPixels = 2 * opt.outlierPixels;
        const auto consensus = ransacConsensus(obj, img, fit.f, ransacPixels, cx, cy);
        if (int(consensus.size()) >= keepAtLeast && int(consensus.size()) < n) {
            const Fit refit = fitOn(consensus);
            if (refit.ok) {
                used = consensus;
                fit = refit;
            }
        }
    }
    if (checkOutliers && fit.ok) {
        for (int round = 0; round < 6; ++round) {
            const auto r = residuals(obj, img, fit, cx, cy);
            const double sigma = 1.4826 * median(pick(r, used));
            const double threshold = std::max(opt.outlierPixels, 4 * sigma);
            std::vector<int> next;
            for (int k = 0; k < n; ++k)
                if (r[k] <= threshold) next.push_back(k);
            if (int(next.size()) < keepAtLeast) next = all;
            if (next == used) break;
            used = next;
            const Fit refit = fitOn(used);
            if (!refit.ok) break;
            fit = refit;
        }
    }
    if (!fit.ok) {
        std::string why = "The solver found no camera for these marks";
        if (!lastError.empty()) why += " (" + lastError + ")";
        return refuse(SolveError::SolverFailed, why + "; check the marks.");
    }

    // ---- result in world coordinates: x_cam = R (X - centre) + t' = R X + (t' - R centre)
    SolveResult res;
    res.ok = true;
    cv::Matx33d R;
    cv::Rodrigues(fit.rvec, R);
    const cv::Vec3d t = fit.tvec - R * centre;
    SolverCamera& cam = res.camera;
    const cv::Matx33d K = intrinsics(fit.f, cx, cy);
    for (int i = 0; i < 9; ++i) {
        cam.K[i] = K.val[i];
        cam.R[i] = R.val[i];
    }
    for (int i = 0; i < 3; ++i) cam.t[i] = t[i];
    cam.k1 = fit.k1;
    cam.k2 = 0;
    res.focalSolved = focalFree;
    res.distortionSolved = focalFree && withK1 && fit.k1 != 0;

    std::vector<bool> isUsed(n, false);
    for (int k : used) isUsed[k] = true;
    const auto r = residuals(obj, img, fit, cx, cy);
    double sum = 0;
    std::vector<cv::Point2d> usedPixels;
    for (int k = 0; k < n; ++k) {
        const RegMark& m = in.marks[enabled[k]];
        res.residuals.push_back({m.id, r[k], isUsed[k]});
        if (isUsed[k]) {
            sum += r[k] * r[k];
            usedPixels.push_back(img[k]);
        } else {
            res.outliers.push_back(m.id);
        }
    }
    res.marksUsed = int(used.size());
    res.rms = std::sqrt(sum / std::max(1, res.marksUsed));
    res.coverage = hullArea(usedPixels) / (double(W) * H);

    auto warn = [&](SolveWarning w, std::string text) {
        res.warnings.push_back(w);
        res.warningTexts.push_back(std::move(text));
    };
    if (n < opt.minMarksOutlierCheck)
        warn(SolveWarning::FewMarks, "Only " + std::to_string(n) + " marks: with fewer than " +
                                         std::to_string(opt.minMarksOutlierCheck) +
                                         " a mis-clicked mark cannot be found.");
    if (res.coverage < opt.minCoverage)
        warn(SolveWarning::SmallCoverage,
             "The marks cover " + std::to_string(int(std::lround(res.coverage * 100))) +
                 " % of the photo (their convex hull); spread them over at least half of it.");
    if (res.rms > opt.rmsWarnPixels)
        warn(SolveWarning::HighRms,
             "rms " + fmt(res.rms, 2) + " px is above " + fmt(opt.rmsWarnPixels, 1) + " px; check the marks.");
    return res;
}

}  // namespace orvreg
