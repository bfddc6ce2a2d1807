#pragma once

#include <array>
#include <cstddef>

namespace Tavrin {

// A 4 x 4 matrix of floats stored column by column, applied to column vectors:
// element (column, row) is elements[4 * column + row].
struct Matrix4 {
    std::array<float, 16> elements{};

    constexpr float& at(int column, int row) { return elements[index(column, row)]; }
    constexpr float at(int column, int row) const { return elements[index(column, row)]; }

    static constexpr Matrix4 identity() {
        Matrix4 m;
        m.at(0, 0) = m.at(1, 1) = m.at(2, 2) = m.at(3, 3) = 1.0f;
        return m;
    }

    // Scales x and y; z is flattened to 0.
    static constexpr Matrix4 scale(float x, float y) {
        Matrix4 m;
        m.at(0, 0) = x;
        m.at(1, 1) = y;
        m.at(3, 3) = 1.0f;
        return m;
    }

    static constexpr Matrix4 translation(float x, float y) {
        Matrix4 m = identity();
        m.at(3, 0) = x;
        m.at(3, 1) = y;
        return m;
    }

    // Window pixels to clip space: (0, 0) is the top-left corner and maps to (-1, +1),
    // (width, height) maps to (+1, -1).
    static constexpr Matrix4 orthographic(float width, float height) {
        Matrix4 m;
        m.at(0, 0) = 2.0f / width;
        m.at(1, 1) = -2.0f / height;
        m.at(2, 2) = -1.0f;
        m.at(3, 0) = -1.0f;
        m.at(3, 1) = 1.0f;
        m.at(3, 3) = 1.0f;
        return m;
    }

    friend constexpr Matrix4 operator*(const Matrix4& a, const Matrix4& b) {
        Matrix4 product;
        for (int column = 0; column < 4; ++column) {
            for (int row = 0; row < 4; ++row) {
                float sum = 0.0f;
                for (int k = 0; k < 4; ++k) {
                    sum += a.at(k, row) * b.at(column, k);
                }
                product.at(column, row) = sum;
            }
        }
        return product;
    }

    friend constexpr bool operator==(const Matrix4& a, const Matrix4& b) = default;

private:
    static constexpr std::size_t index(int column, int row) {
        return static_cast<std::size_t>(4 * column + row);
    }
};

} // namespace Tavrin
