// --preview: a picture of the loaded object. Faces are filled flat in their
// surface's colour, shaded by the host's polygon normals; lines and dots are
// drawn in their surface's colour. The view is orthographic, from the front
// (-z, the host's axes) turned 45 degrees to the right and 30 degrees up; the
// eight corners of the bounding box fill the picture less a margin, centred.
// The PNG is written by stb_image_write, which serves every platform.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include "stb_image_write.h"

#include "convert.h"

namespace convert {
namespace {

using Rgb = std::array<uint8_t, 3>;

constexpr double kPi = 3.14159265358979323846;
constexpr double kAzimuth = 45.0 * kPi / 180.0;
constexpr double kElevation = 30.0 * kPi / 180.0;
constexpr double kMargin = 0.05;                // of each side
constexpr Rgb kBackground = {40, 44, 52};
constexpr Rgb kNoSurfaceColour = {200, 200, 200};  // a polygon whose surface number names no surface
constexpr int kMaxSupersampledPixels = 2048 * 2048;

double Dot(const Triple& a, const Triple& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Triple Cross(const Triple& a, const Triple& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
Triple Scaled(const Triple& a, double s) { return {a[0] * s, a[1] * s, a[2] * s}; }
Triple Sum(const Triple& a, const Triple& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
Triple Unit(const Triple& a) { return Scaled(a, 1.0 / std::sqrt(Dot(a, a))); }
Triple PositionOf(const HostPoint& p) { return {p.position1[0], p.position1[1], p.position1[2]}; }
bool Finite(const Triple& a) { return std::isfinite(a[0]) && std::isfinite(a[1]) && std::isfinite(a[2]); }

// A point on the picture: x to the right, y down, depth away from the eye.
struct ScreenPoint {
    double x, y, depth;
};

struct Camera {
    Triple toEye, right, up, light;
    Triple centre{};
    double scale = 1, halfWidth = 0, halfHeight = 0;

    Camera() {
        toEye = {std::sin(kAzimuth) * std::cos(kElevation), std::sin(kElevation),
                 -std::cos(kAzimuth) * std::cos(kElevation)};
        const Triple forward = Scaled(toEye, -1);
        right = Unit(Cross({0, 1, 0}, forward));
        up = Cross(forward, right);
        // From the upper left, behind the eye, so that the sides of a box differ.
        light = Unit(Sum(Sum(Scaled(right, -0.5), up), toEye));
    }

    ScreenPoint Project(const Triple& p) const {
        const Triple d = Sum(p, Scaled(centre, -1));
        return {halfWidth + Dot(d, right) * scale, halfHeight - Dot(d, up) * scale, -Dot(d, toEye)};
    }

    // The box's corners fill the picture less the margin, centred.
    void Frame(const Triple& low, const Triple& high, int width, int height) {
        halfWidth = width / 2.0;
        halfHeight = height / 2.0;
        centre = Scaled(Sum(low, high), 0.5);
        double spanX = 0, spanY = 0;
        for (int corner = 0; corner < 8; ++corner) {
            const Triple p = {corner & 1 ? high[0] : low[0], corner & 2 ? high[1] : low[1], corner & 4 ? high[2] : low[2]};
            const Triple d = Sum(p, Scaled(centre, -1));
            spanX = std::max(spanX, 2 * std::fabs(Dot(d, right)));
            spanY = std::max(spanY, 2 * std::fabs(Dot(d, up)));
        }
        const double room = 1 - 2 * kMargin;
        scale = std::min(spanX > 0 ? width * room / spanX : INFINITY, spanY > 0 ? height * room / spanY : INFINITY);
        if (!std::isfinite(scale)) scale = 1;
    }
};

// The host's box when it is finite, else the box of the finite points.
bool FramingBox(const HostGeometry& geometry, Triple* low, Triple* high) {
    *low = {geometry.box.min[0], geometry.box.min[1], geometry.box.min[2]};
    *high = {geometry.box.max[0], geometry.box.max[1], geometry.box.max[2]};
    if (Finite(*low) && Finite(*high)) return true;
    *low = {INFINITY, INFINITY, INFINITY};
    *high = {-INFINITY, -INFINITY, -INFINITY};
    for (int32_t i = 0; geometry.points && i < geometry.pointCount; ++i) {
        const Triple p = PositionOf(*geometry.points[i]);
        if (!Finite(p)) continue;
        for (int axis = 0; axis < 3; ++axis) {
            (*low)[axis] = std::min((*low)[axis], p[axis]);
            (*high)[axis] = std::max((*high)[axis], p[axis]);
        }
    }
    return Finite(*low) && Finite(*high);
}

class Canvas {
public:
    Canvas(int width, int height)
        : width_(width), height_(height), colour_(static_cast<size_t>(width) * height, kBackground),
          depth_(static_cast<size_t>(width) * height, INFINITY) {}

    // Colours the sample at (x, y) when `depth` is nearer than what is there
    // (within `bias`); samples off the canvas are passed over.
    void Plot(int x, int y, double depth, const Rgb& colour, double bias) {
        if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
        const size_t at = static_cast<size_t>(y) * width_ + x;
        if (!(depth <= depth_[at] + bias)) return;
        depth_[at] = std::min(depth, depth_[at]);
        colour_[at] = colour;
    }

    // The picture at 1 / factor of the canvas's size, each pixel the mean of its samples.
    std::vector<uint8_t> Reduced(int factor) const {
        const int width = width_ / factor, height = height_ / factor;
        std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 3);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                for (int c = 0; c < 3; ++c) {
                    int sum = 0;
                    for (int dy = 0; dy < factor; ++dy) {
                        for (int dx = 0; dx < factor; ++dx) {
                            sum += colour_[static_cast<size_t>(y * factor + dy) * width_ + x * factor + dx][c];
                        }
                    }
                    pixels[(static_cast<size_t>(y) * width + x) * 3 + c] = static_cast<uint8_t>(sum / (factor * factor));
                }
            }
        }
        return pixels;
    }

    int width() const { return width_; }
    int height() const { return height_; }

private:
    int width_, height_;
    std::vector<Rgb> colour_;
    std::vector<double> depth_;
};

class Painter {
public:
    // `factor`: canvas samples per picture pixel, across; `bias`: how far behind
    // a face a line or dot may lie and still be drawn.
    Painter(const HostGeometry& geometry, const Camera& camera, Canvas& canvas, int factor, double bias)
        : geometry_(geometry), camera_(camera), canvas_(canvas), factor_(factor), bias_(bias) {}

    void Paint(int pass) {
        for (int32_t i = 0; geometry_.polygons && i < geometry_.polygonCount; ++i) {
            const HostPolygon& polygon = *geometry_.polygons[i];
            std::vector<ScreenPoint> corners;
            for (int32_t k = 0; k < polygon.cornerCount; ++k) {
                const Triple p = PositionOf(*polygon.corners[k]->point);
                if (!Finite(p)) break;
                corners.push_back(camera_.Project(p));
            }
            if (corners.size() != static_cast<size_t>(polygon.cornerCount)) continue;  // a corner not finite
            const Rgb colour = ColourOf(polygon);
            if (pass == 0 && corners.size() >= 3) Fill(corners, i, colour);
            if (pass == 1 && corners.size() >= 3) Outline(corners, i, colour);
            if (pass == 1 && corners.size() == 2) DrawLine(corners[0], corners[1], colour);
            if (pass == 1 && corners.size() == 1) DrawDot(corners[0], colour);
        }
    }

private:
    Rgb ColourOf(const HostPolygon& polygon) const {
        const int32_t surface = polygon.surface;
        if (surface < 1 || surface > geometry_.surfaceCount || !geometry_.surfaceArray) return kNoSurfaceColour;
        const HostSurface& s = *geometry_.surfaceArray[surface - 1];
        return {s.colour[0], s.colour[1], s.colour[2]};
    }

    // The polygon's colour shaded by its normal: light from the upper left
    // and from the eye; nothing when it has no area or is seen edge-on.
    std::optional<Rgb> Shaded(int32_t index, const Rgb& colour, double darker) const {
        if (!geometry_.normals || index >= geometry_.normalCount) return std::nullopt;
        const HostNormal& n = geometry_.normals[index];
        const Triple normal = {n.x, n.y, n.z};
        const double towardEye = Dot(normal, camera_.toEye);
        if (!Finite(normal) || std::fabs(towardEye) < 1e-9) return std::nullopt;
        const double shade = darker * (0.25 + 0.55 * std::fabs(Dot(normal, camera_.light)) + 0.2 * std::fabs(towardEye));
        return Rgb{static_cast<uint8_t>(colour[0] * shade), static_cast<uint8_t>(colour[1] * shade),
                   static_cast<uint8_t>(colour[2] * shade)};
    }

    // Edges a little darker than the face, so that faces of one colour and
    // one slope stay apart.
    void Outline(const std::vector<ScreenPoint>& corners, int32_t index, const Rgb& colour) {
        const std::optional<Rgb> edge = Shaded(index, colour, 0.8);
        if (!edge) return;
        for (size_t k = 0; k < corners.size(); ++k) {
            const ScreenPoint& a = corners[k];
            const ScreenPoint& b = corners[(k + 1) % corners.size()];
            const double length = std::max(std::fabs(b.x - a.x), std::fabs(b.y - a.y));
            const int steps = static_cast<int>(std::min(length, 1e5)) + 1;
            for (int s = 0; s <= steps; ++s) {
                const double t = static_cast<double>(s) / steps;
                canvas_.Plot(static_cast<int>(a.x + (b.x - a.x) * t), static_cast<int>(a.y + (b.y - a.y) * t),
                             a.depth + (b.depth - a.depth) * t, *edge, bias_);
            }
        }
    }

    // Scan lines across the polygon, filled between pairs of crossings (even-odd),
    // each sample's depth on the plane through the first corner with the polygon's normal.
    void Fill(const std::vector<ScreenPoint>& corners, int32_t index, const Rgb& colour) {
        const std::optional<Rgb> shaded = Shaded(index, colour, 1.0);
        if (!shaded) return;
        const HostNormal& n = geometry_.normals[index];
        const Triple normal = {n.x, n.y, n.z};
        const double towardEye = Dot(normal, camera_.toEye);
        // depth = first.depth + dx * gx + dy * gy on the polygon's plane.
        const double gx = Dot(normal, camera_.right) / towardEye / camera_.scale;
        const double gy = -Dot(normal, camera_.up) / towardEye / camera_.scale;
        double top = INFINITY, bottom = -INFINITY;
        for (const ScreenPoint& c : corners) {
            top = std::min(top, c.y);
            bottom = std::max(bottom, c.y);
        }
        const int firstRow = std::max(0, static_cast<int>(std::ceil(top - 0.5)));
        const int lastRow = std::min(canvas_.height() - 1, static_cast<int>(std::floor(bottom - 0.5)));
        std::vector<double> crossings;
        for (int row = firstRow; row <= lastRow; ++row) {
            const double y = row + 0.5;
            crossings.clear();
            for (size_t k = 0; k < corners.size(); ++k) {
                const ScreenPoint& a = corners[k];
                const ScreenPoint& b = corners[(k + 1) % corners.size()];
                if ((a.y <= y) != (b.y <= y)) crossings.push_back(a.x + (y - a.y) * (b.x - a.x) / (b.y - a.y));
            }
            std::sort(crossings.begin(), crossings.end());
            for (size_t k = 0; k + 1 < crossings.size(); k += 2) {
                const int from = std::max(0, static_cast<int>(std::ceil(crossings[k] - 0.5)));
                const int to = std::min(canvas_.width(), static_cast<int>(std::ceil(crossings[k + 1] - 0.5)));
                for (int x = from; x < to; ++x) {
                    const double depth = corners[0].depth + (x + 0.5 - corners[0].x) * gx + (y - corners[0].y) * gy;
                    canvas_.Plot(x, row, depth, *shaded, 0);
                }
            }
        }
    }

    // Lines and dots are drawn over faces they lie on (within the bias).
    void DrawLine(const ScreenPoint& a, const ScreenPoint& b, const Rgb& colour) {
        const double length = std::max(std::fabs(b.x - a.x), std::fabs(b.y - a.y));
        const int steps = static_cast<int>(std::min(length, 1e5)) + 1;
        for (int s = 0; s <= steps; ++s) {
            const double t = static_cast<double>(s) / steps;
            Spot(a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.depth + (b.depth - a.depth) * t, colour, 0);
        }
    }

    void DrawDot(const ScreenPoint& p, const Rgb& colour) { Spot(p.x, p.y, p.depth, colour, 1); }

    // A square of 1 + 2 * radius pixels of the picture around (x, y).
    void Spot(double x, double y, double depth, const Rgb& colour, int radius) {
        const int size = (1 + 2 * radius) * factor_;
        const int left = static_cast<int>(std::floor(x)) - size / 2, top = static_cast<int>(std::floor(y)) - size / 2;
        for (int dy = 0; dy < size; ++dy) {
            for (int dx = 0; dx < size; ++dx) canvas_.Plot(left + dx, top + dy, depth, colour, bias_);
        }
    }

    const HostGeometry& geometry_;
    const Camera& camera_;
    Canvas& canvas_;
    int factor_;
    double bias_;
};

void AppendBytes(void* context, void* data, int size) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), static_cast<size_t>(size));
}

bool WritePng(const std::vector<uint8_t>& pixels, int width, int height, const fs::path& path, std::string* error) {
    std::string png;
    if (!stbi_write_png_to_func(AppendBytes, &png, width, height, 3, pixels.data(), width * 3)) {
        *error = "the picture cannot be encoded";
        return false;
    }
    std::FILE* file = std::fopen(path.string().c_str(), "wb");
    if (!file) {
        *error = "cannot be written (its folder is missing or not writable)";
        return false;
    }
    const bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    if (std::fclose(file) != 0 || !written) {
        std::error_code ignored;
        fs::remove(path, ignored);
        *error = "cannot be written (the disk may be full)";
        return false;
    }
    return true;
}

}  // namespace

bool WritePreview(const HostObject& object, const fs::path& path, int width, int height, std::string* error) {
    const int factor = width * height <= kMaxSupersampledPixels ? 2 : 1;
    Canvas canvas(width * factor, height * factor);
    Triple low, high;
    if (object.geometry && FramingBox(*object.geometry, &low, &high)) {
        Camera camera;
        camera.Frame(low, high, canvas.width(), canvas.height());
        const Triple diagonal = Sum(high, Scaled(low, -1));
        Painter painter(*object.geometry, camera, canvas, factor, 2e-3 * std::sqrt(Dot(diagonal, diagonal)));
        painter.Paint(0);
        painter.Paint(1);
    }
    return WritePng(canvas.Reduced(factor), width, height, path, error);
}

}  // namespace convert
