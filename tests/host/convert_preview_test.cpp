// tamlorn-convert --preview, read back pixel by pixel: a cube of a known
// colour drawn from the three-quarter view the converter promises
// (orthographic, turned 45 degrees right of the front and 30 degrees up, the
// bounding box's corners filling the picture less 5% on each side).
#include <algorithm>
#include <cmath>
#include <numbers>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include "stb_image.h"

#include "host_support.h"

namespace {

using namespace host_support;
using Vec = std::array<double, 3>;
using Pixel = std::array<int, 3>;

double Dot(const Vec& a, const Vec& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vec Cross(const Vec& a, const Vec& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

constexpr int kWidth = 400, kHeight = 300;

// Where the view puts the points of the host box from -1 to 1 on every axis.
struct View {
    Vec toEye, right, up;
    double scale = 0;
    View() {
        const double azimuth = std::numbers::pi / 4, elevation = std::numbers::pi / 6;
        toEye = {std::sin(azimuth) * std::cos(elevation), std::sin(elevation), -std::cos(azimuth) * std::cos(elevation)};
        const Vec forward = {-toEye[0], -toEye[1], -toEye[2]};
        right = Cross({0, 1, 0}, forward);
        const double length = std::sqrt(Dot(right, right));
        right = {right[0] / length, right[1] / length, right[2] / length};
        up = Cross(forward, right);
        double spanX = 0, spanY = 0;
        for (const Vec& c : Corners()) {
            spanX = std::max(spanX, 2 * std::fabs(Dot(c, right)));
            spanY = std::max(spanY, 2 * std::fabs(Dot(c, up)));
        }
        scale = std::min(kWidth * 0.9 / spanX, kHeight * 0.9 / spanY);
    }
    static std::vector<Vec> Corners() {
        std::vector<Vec> corners;
        for (int c = 0; c < 8; ++c) corners.push_back({c & 1 ? 1.0 : -1.0, c & 2 ? 1.0 : -1.0, c & 4 ? 1.0 : -1.0});
        return corners;
    }
    std::array<double, 2> At(const Vec& p) const {
        return {kWidth / 2.0 + Dot(p, right) * scale, kHeight / 2.0 - Dot(p, up) * scale};
    }
};

using Point2 = std::array<double, 2>;

double Turn(const Point2& o, const Point2& a, const Point2& b) {
    return (a[0] - o[0]) * (b[1] - o[1]) - (a[1] - o[1]) * (b[0] - o[0]);
}

// The convex hull, counter-clockwise (monotone chain).
std::vector<Point2> Hull(std::vector<Point2> points) {
    std::sort(points.begin(), points.end());
    std::vector<Point2> hull;
    for (int pass = 0; pass < 2; ++pass) {
        const size_t start = hull.size();
        for (const Point2& p : points) {
            while (hull.size() >= start + 2 && Turn(hull[hull.size() - 2], hull.back(), p) <= 0) hull.pop_back();
            hull.push_back(p);
        }
        hull.pop_back();
        std::reverse(points.begin(), points.end());
    }
    return hull;
}

// How far inside the hull p lies (negative: outside).
double Inside(const std::vector<Point2>& hull, const Point2& p) {
    double distance = INFINITY;
    for (size_t k = 0; k < hull.size(); ++k) {
        const Point2& a = hull[k];
        const Point2& b = hull[(k + 1) % hull.size()];
        distance = std::min(distance, Turn(a, b, p) / std::hypot(b[0] - a[0], b[1] - a[1]));
    }
    return distance;
}

// A cube from -1 to 1 in one orange material, written as 3D Studio.
std::string OrangeCube() {
    std::vector<tds::Point> points;
    for (const Vec& c : View::Corners()) points.push_back({float(c[0]), float(c[1]), float(c[2])});
    const std::vector<tds::Corners> faces = {{0, 1, 3}, {0, 3, 2}, {4, 6, 7}, {4, 7, 5}, {0, 4, 5}, {0, 5, 1},
                                             {2, 3, 7}, {2, 7, 6}, {0, 2, 6}, {0, 6, 4}, {1, 5, 7}, {1, 7, 3}};
    const std::string colour = Chunk(0xA020, Chunk(0x0011, std::string("\xF0\x78\x00", 3)));
    return tds::File(tds::Editor(tds::Material(tds::MaterialName("Orange") + colour) +
                                 tds::Object("Cube", tds::PointList(points) +
                                                         tds::FaceList(faces, tds::Group("Orange", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11})))));
}

// A picture read back; empty when it cannot be read.
struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
    Pixel At(int x, int y) const {
        const unsigned char* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
        return Pixel{p[0], p[1], p[2]};
    }
    Pixel At(const Point2& p) const { return At(static_cast<int>(p[0]), static_cast<int>(p[1])); }
};

Picture ReadPng(const fs::path& path) {
    Picture picture;
    int channels = 0;
    unsigned char* data = stbi_load(path.string().c_str(), &picture.width, &picture.height, &channels, 3);
    if (data) picture.rgb.assign(data, data + picture.width * picture.height * 3);
    stbi_image_free(data);
    return picture;
}

using ConvertPreview = TempDirTest;

TEST_F(ConvertPreview, CubeFallsWhereItsBoxSaysInItsColourShaded) {
    const fs::path png = dir_ / "cube.png", converted = dir_ / "cube.obj";  // a picture may come with a conversion
    const RunResult run = Converter(
        {"--preview", png.string(), "--size", "400x300", Write("cube.3ds", OrangeCube()).string(), converted.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(fs::exists(converted));
    const Picture picture = ReadPng(png);
    ASSERT_EQ(std::tuple(picture.width, picture.height), std::tuple(kWidth, kHeight));
    const View view;
    std::vector<Point2> projected;
    for (const Vec& c : View::Corners()) projected.push_back(view.At(c));
    const std::vector<Point2> hull = Hull(projected);
    const Pixel background = picture.At(0, 0);
    int wrong = 0;
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const double inside = Inside(hull, {x + 0.5, y + 0.5});
            if (inside > 1.5 && picture.At(x, y) == background) ++wrong;
            if (inside < -1.5 && picture.At(x, y) != background) ++wrong;
        }
    }
    EXPECT_EQ(wrong, 0) << "pixels on the wrong side of the cube's outline";
    // The middle of each face toward the eye is orange (240, 120, 0) times a
    // shade below 1, and the three faces' shades differ.
    std::vector<int> reds;
    for (const Vec& middle : {Vec{0, 1, 0}, Vec{0, 0, -1}, Vec{1, 0, 0}}) {
        const Pixel p = picture.At(view.At(middle));
        SCOPED_TRACE(std::to_string(p[0]) + " " + std::to_string(p[1]) + " " + std::to_string(p[2]));
        EXPECT_GT(p[0], 40);
        EXPECT_LT(p[0], 240);
        EXPECT_NEAR(p[1], p[0] / 2, 2);
        EXPECT_EQ(p[2], 0);
        for (const int other : reds) EXPECT_GT(std::abs(other - p[0]), 10);
        reds.push_back(p[0]);
    }
}

// A line along the box's diagonal and a dot at one of its corners are drawn; the corners far from both stay
// background. The drawing's coordinates are the host's with y and z swapped, so these points are the same.
TEST_F(ConvertPreview, LinesAndDotsAreDrawn) {
    using namespace host_support::dxf;
    const fs::path png = dir_ / "lines.png";
    const std::string drawing = Drawing(Line({-1, -1, -1}, {1, 1, 1}) + PointEntity(1, -1, -1));
    const RunResult run = Converter({"--preview", png.string(), "--size", "400x300", Write("lines.dxf", drawing).string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Picture picture = ReadPng(png);
    ASSERT_EQ(std::tuple(picture.width, picture.height), std::tuple(kWidth, kHeight));
    const View view;
    const Pixel background = picture.At(0, 0);
    for (int step = 1; step < 10; ++step) {
        const double t = -1 + step / 5.0;
        EXPECT_NE(picture.At(view.At({t, t, t})), background) << "line, step " << step;
    }
    EXPECT_NE(picture.At(view.At({1, -1, -1})), background) << "dot";
    for (const Vec& corner : {Vec{-1, 1, -1}, Vec{1, -1, 1}, Vec{-1, -1, 1}}) {
        EXPECT_EQ(picture.At(view.At(corner)), background) << corner[0] << " " << corner[1] << " " << corner[2];
    }
}

}  // namespace
