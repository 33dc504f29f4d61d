#include <libexif/exif-data.h>

#include <cmath>

#include "CameraSolver.h"

namespace orvreg {

namespace {

// Diagonal of a 36 x 24 mm frame: a "35 mm equivalent" focal length is relative to it.
const double kFullFrameDiagonal = std::sqrt(36.0 * 36.0 + 24.0 * 24.0);

struct ExifHandle {
    ExifData* data = nullptr;
    ~ExifHandle()
    {
        if (data) exif_data_unref(data);
    }
};

std::optional<double> rational(ExifData* d, ExifTag tag)
{
    ExifEntry* e = exif_data_get_entry(d, tag);
    if (!e || !e->data || e->components < 1) return std::nullopt;
    const ExifByteOrder order = exif_data_get_byte_order(d);
    if (e->format == EXIF_FORMAT_RATIONAL && e->size >= 8) {
        const ExifRational r = exif_get_rational(e->data, order);
        if (r.denominator == 0) return std::nullopt;
        return double(r.numerator) / r.denominator;
    }
    if (e->format == EXIF_FORMAT_SRATIONAL && e->size >= 8) {
        const ExifSRational r = exif_get_srational(e->data, order);
        if (r.denominator == 0) return std::nullopt;
        return double(r.numerator) / r.denominator;
    }
    if (e->format == EXIF_FORMAT_SHORT && e->size >= 2) return double(exif_get_short(e->data, order));
    if (e->format == EXIF_FORMAT_LONG && e->size >= 4) return double(exif_get_long(e->data, order));
    return std::nullopt;
}

bool usable(const std::optional<double>& x) { return x && std::isfinite(*x) && *x > 0; }

}  // namespace

std::optional<double> exifFocalPixels(const std::string& path, int width, int height)
{
    if (width <= 0 || height <= 0) return std::nullopt;
    ExifHandle h;
    h.data = exif_data_new_from_file(path.c_str());
    if (!h.data) return std::nullopt;

    // The focal length in millimetres with the sensor's pixel density is exact; the 35 mm
    // equivalent is rounded to whole millimetres, so it comes second.
    const auto focal = rational(h.data, EXIF_TAG_FOCAL_LENGTH);
    const auto xres = rational(h.data, EXIF_TAG_FOCAL_PLANE_X_RESOLUTION);
    if (usable(focal) && usable(xres)) {
        double unitMm = 25.4;  // the unit is inches unless stated
        if (const auto unit = rational(h.data, EXIF_TAG_FOCAL_PLANE_RESOLUTION_UNIT)) {
            if (*unit == 3)
                unitMm = 10.0;
            else if (*unit == 4)
                unitMm = 1.0;
            else if (*unit == 5)
                unitMm = 0.001;
        }
        double pixels = *focal * *xres / unitMm;
        // The resolution is that of the full sensor image; a photo scaled since then scales it.
        const auto fullWidth = rational(h.data, EXIF_TAG_PIXEL_X_DIMENSION);
        if (usable(fullWidth) && std::abs(*fullWidth - width) > 0.5) pixels *= width / *fullWidth;
        if (std::isfinite(pixels) && pixels > 0) return pixels;
    }
    const auto f35 = rational(h.data, EXIF_TAG_FOCAL_LENGTH_IN_35MM_FILM);
    if (usable(f35)) return *f35 * std::hypot(double(width), double(height)) / kFullFrameDiagonal;
    return std::nullopt;
}

}  // namespace orvreg
