#include "renderer/matrix.hpp"

#include <gtest/gtest.h>

#include <array>

namespace Tavrin {
namespace {

// The matrix applied to the column vector (x, y, 0, 1).
std::array<float, 2> apply(const Matrix4& m, float x, float y) {
    return {m.at(0, 0) * x + m.at(1, 0) * y + m.at(3, 0),
            m.at(0, 1) * x + m.at(1, 1) * y + m.at(3, 1)};
}

TEST(Matrix, ProjectionMapsTheWindowCornersToClipSpace) {
    const Matrix4 projection = Matrix4::orthographic(448.0f, 512.0f);
    EXPECT_EQ(apply(projection, 0.0f, 0.0f), (std::array<float, 2>{-1.0f, 1.0f}));
    EXPECT_EQ(apply(projection, 448.0f, 512.0f), (std::array<float, 2>{1.0f, -1.0f}));
    EXPECT_EQ(projection.at(2, 2), -1.0f);
    EXPECT_EQ(projection.at(3, 3), 1.0f);
}

TEST(Matrix, ProductAppliesTheRightOperandFirst) {
    // (P x T) x S takes a unit-square corner to position + corner * scale.
    const Matrix4 placed = Matrix4::translation(10.0f, 20.0f) * Matrix4::scale(3.0f, 4.0f);
    EXPECT_EQ(apply(placed, 1.0f, 1.0f), (std::array<float, 2>{13.0f, 24.0f}));
    EXPECT_EQ(Matrix4::identity() * placed, placed);
    const Matrix4 other = Matrix4::scale(3.0f, 4.0f) * Matrix4::translation(10.0f, 20.0f);
    EXPECT_EQ(apply(other, 1.0f, 1.0f), (std::array<float, 2>{33.0f, 84.0f}));
}

} // namespace
} // namespace Tavrin
