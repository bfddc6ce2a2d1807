#include "base/exception.hpp"
#include "renderer/image.hpp"
#include "renderer/program.hpp"
#include "renderer/rectangle.hpp"
#include "renderer/texture.hpp"
#include "tests/renderer/gl_test_window.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>

namespace Tavrin::testing {

void PrintTo(const Pixel& pixel, std::ostream* out) {
    *out << '(' << int{pixel.red} << ", " << int{pixel.green} << ", " << int{pixel.blue} << ", "
         << int{pixel.alpha} << ')';
}

namespace {

constexpr Pixel background{76, 76, 76, 255}; // test_clear_color, 0.3 * 255 rounded down
constexpr Pixel white{255, 255, 255, 255};
constexpr Pixel black{0, 0, 0, 255};

class Renderer : public ::testing::Test {
protected:
    void SetUp() override {
        window = make_window("Renderer test");
        clear(test_clear_color);
    }

    std::unique_ptr<Window> window;
};

std::string message_of(const auto& action) {
    try {
        action();
    } catch (const Exception& error) {
        return error.message;
    }
    return "(no exception)";
}

TEST(Shader_Texts, HaveTheirExactLengths) {
    EXPECT_EQ(std::strlen(Rectangle::vertex_shader), 138u);
    EXPECT_EQ(std::strlen(Rectangle::fragment_shader), 121u);
    EXPECT_EQ(std::strlen(Image::vertex_shader), 181u);
    EXPECT_EQ(std::strlen(Image::fragment_shader), 178u);
}

// A pattern without symmetry: a flipped, turned or shifted picture does not match it.
std::uint8_t texel(int x, int y) {
    if (y == 0) {
        return 255; // a white line along the top edge
    }
    return (x * 7 + y * 13) % 5 < 2 ? 255 : 0;
}

TEST_F(Renderer, ImageShowsEachTexelAsASharpTwoByTwoBlockFromTheTopLeft) {
    const std::vector<std::uint8_t> zeros(224 * 256, 0);
    Texture texture({224, 256}, GL_RED, zeros.data());
    std::vector<std::uint8_t> texels(224 * 256);
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 224; ++x) {
            texels[static_cast<std::size_t>(y * 224 + x)] = texel(x, y);
        }
    }
    texture.update(texels.data());
    Image image(window->draw_target(), &texture, {2, 2});
    image.draw();

    const Frame frame(*window);
    int wrong = 0;
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            const Pixel expected =
                x < 448 && y < 512 ? (texel(x / 2, y / 2) != 0 ? white : black) : background;
            if (frame.at(x, y) != expected && ++wrong <= 5) {
                ADD_FAILURE() << "pixel (" << x << ", " << y << ")";
                EXPECT_EQ(frame.at(x, y), expected);
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST_F(Renderer, TextureIsSampledWithoutFilteringAndClampedAtTheEdges) {
    const std::vector<std::uint8_t> texels(3 * 5, 9);
    Texture texture({3, 5}, GL_RED, texels.data());
    GLint value = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &value);
    EXPECT_EQ(value, GL_NEAREST);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &value);
    EXPECT_EQ(value, GL_NEAREST);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &value);
    EXPECT_EQ(value, GL_CLAMP_TO_EDGE);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &value);
    EXPECT_EQ(value, GL_CLAMP_TO_EDGE);
    // Rows of an odd width are read tightly packed.
    std::vector<std::uint8_t> read(3 * 5, 0);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RED, GL_UNSIGNED_BYTE, read.data());
    EXPECT_EQ(read, texels);
}

TEST_F(Renderer, ImageOfADefaultTextureDrawsNothing) {
    Texture texture;
    texture.update(nullptr);
    Image image(window->draw_target(), &texture, {2, 2});
    image.draw();
    const Frame frame(*window);
    for (const Pixel& pixel : frame.pixels) {
        ASSERT_EQ(pixel, background);
    }
}

TEST_F(Renderer, RectangleFillsExactlyItsPixels) {
    Rectangle rectangle(window->draw_target(), {1.0f, 0.0f, 0.0f, 1.0f}, {10, 20}, {3.0f, 3.0f});
    rectangle.draw();
    const Frame frame(*window);
    for (int y = 15; y < 28; ++y) {
        for (int x = 5; x < 18; ++x) {
            const bool inside = x >= 10 && x <= 12 && y >= 20 && y <= 22;
            EXPECT_EQ(frame.at(x, y), (inside ? Pixel{255, 0, 0, 255} : background))
                << "pixel (" << x << ", " << y << ")";
        }
    }
}

TEST_F(Renderer, RectangleBlendsByItsAlphaAndLeavesBlendingOff) {
    clear({0.0f, 0.0f, 1.0f, 1.0f});
    Rectangle rectangle(window->draw_target(), {1.0f, 0.0f, 0.0f, 0.0f}, {0, 0}, {4.0f, 4.0f});
    rectangle.draw();
    rectangle.set_color({1.0f, 0.0f, 0.0f, 0.5f});
    rectangle.set_position({10, 0});
    rectangle.draw();
    rectangle.set_color({1.0f, 0.0f, 0.0f, 1.0f});
    rectangle.set_position({20, 0});
    rectangle.draw();
    EXPECT_FALSE(glIsEnabled(GL_BLEND));

    const Frame frame(*window);
    EXPECT_EQ(frame.at(1, 1), (Pixel{0, 0, 255, 255}));
    const Pixel half = frame.at(11, 1);
    EXPECT_NEAR(half.red, 128, 1);
    EXPECT_EQ(half.green, 0);
    EXPECT_NEAR(half.blue, 128, 1);
    EXPECT_EQ(frame.at(21, 1), (Pixel{255, 0, 0, 255}));
}

TEST_F(Renderer, RectanglesShareOneProgramAndVertexArrayUntilReleased) {
    Rectangle first(window->draw_target(), {}, {0, 0}, {1.0f, 1.0f});
    const std::uint32_t program = *Rectangle::program().id;
    const std::uint32_t vertex_array = *Rectangle::vertex_array().id;
    ASSERT_NE(program, 0u);
    Rectangle second(window->draw_target(), {}, {0, 0}, {1.0f, 1.0f});
    EXPECT_EQ(*Rectangle::program().id, program);
    EXPECT_EQ(*Rectangle::vertex_array().id, vertex_array);
    EXPECT_EQ(Rectangle::shared_context(), window->gl_context);

    // Another context's release leaves them alone.
    int other_context = 0;
    Rectangle::release_shared(&other_context);
    EXPECT_TRUE(glIsProgram(program));

    glUseProgram(0);
    glBindVertexArray(0);
    Rectangle::release_shared(window->gl_context);
    EXPECT_FALSE(glIsProgram(program));
    EXPECT_FALSE(glIsVertexArray(vertex_array));
    EXPECT_EQ(*Rectangle::program().id, 0u);
    EXPECT_EQ(Rectangle::shared_context(), nullptr);

    // The next rectangle builds them again and draws.
    Rectangle third(window->draw_target(), {0.0f, 1.0f, 0.0f, 1.0f}, {0, 0}, {2.0f, 2.0f});
    EXPECT_NE(*Rectangle::program().id, 0u);
    third.draw();
    EXPECT_EQ(Frame(*window).at(1, 1), (Pixel{0, 255, 0, 255}));
}

TEST_F(Renderer, ShaderThatDoesNotCompileReportsTheLogWithoutItsTerminator) {
    const char* broken = "#version 330 core\nvoid main()\n{\n\tnot_a_function();\n}\n";
    const std::string message = message_of([&] { Program program({{broken, GL_VERTEX_SHADER}}); });
    const std::string heading = "Could not compile an OpenGL shader.\n\n";
    ASSERT_EQ(message.substr(0, heading.size()), heading);
    EXPECT_GT(message.size(), heading.size());
    EXPECT_EQ(message.find('\0'), std::string::npos);
    EXPECT_NE(message.find("not_a_function"), std::string::npos) << message;
}

TEST_F(Renderer, MissingAttributeOrUniformIsNamedInTheMessage) {
    Program program(
        {{Image::vertex_shader, GL_VERTEX_SHADER}, {Image::fragment_shader, GL_FRAGMENT_SHADER}});
    EXPECT_GE(program.attribute_location("vertex"), 0);
    EXPECT_GE(program.uniform_location("matrix"), 0);
    EXPECT_EQ(message_of([&] { program.uniform_location("color"); }),
              "Could not get the location of the OpenGL shader uniform \"color\".");
    EXPECT_EQ(message_of([&] { program.attribute_location("position"); }),
              "Could not get the location of the OpenGL shader attribute \"position\".");
}

TEST_F(Renderer, CopiesDeleteTheirGlObjectsOnceWhenTheLastHolderGoes) {
    std::uint32_t program_name = 0;
    std::uint32_t vertex_array_name = 0;
    std::vector<std::uint32_t> buffer_names;
    std::uint32_t texture_name = 0;
    {
        const std::vector<std::uint8_t> texels(4, 0);
        Texture texture;
        texture = Texture({2, 2}, GL_RED, texels.data()); // the temporary deletes nothing
        texture_name = *texture.id;
        ASSERT_TRUE(glIsTexture(texture_name));
        Image image(window->draw_target(), &texture, {1, 1});
        program_name = *image.program.id;
        vertex_array_name = *image.vertex_array.id;
        buffer_names = image.vertex_array.buffers;
        {
            const Texture texture_copy = texture;
            Image copy;
            copy = image;
            EXPECT_EQ(*copy.program.id, program_name);
        }
        glUseProgram(0);
        glBindVertexArray(0);
        EXPECT_TRUE(glIsTexture(texture_name));
        EXPECT_TRUE(glIsProgram(program_name));
        EXPECT_TRUE(glIsVertexArray(vertex_array_name));
        for (const std::uint32_t buffer : buffer_names) {
            EXPECT_TRUE(glIsBuffer(buffer));
        }
    }
    EXPECT_FALSE(glIsTexture(texture_name));
    EXPECT_FALSE(glIsProgram(program_name));
    EXPECT_FALSE(glIsVertexArray(vertex_array_name));
    ASSERT_EQ(buffer_names.size(), 2u);
    for (const std::uint32_t buffer : buffer_names) {
        EXPECT_FALSE(glIsBuffer(buffer));
    }
}

TEST_F(Renderer, AssigningOverALiveProgramDeletesTheOneItHeld) {
    Program program({{Rectangle::vertex_shader, GL_VERTEX_SHADER},
                     {Rectangle::fragment_shader, GL_FRAGMENT_SHADER}});
    const std::uint32_t first = *program.id;
    program = Program({{Rectangle::vertex_shader, GL_VERTEX_SHADER},
                       {Rectangle::fragment_shader, GL_FRAGMENT_SHADER}});
    EXPECT_FALSE(glIsProgram(first));
    EXPECT_TRUE(glIsProgram(*program.id));
}

TEST_F(Renderer, VertexArrayRecordsItsIndexBufferAndAttribute) {
    Program program(
        {{Image::vertex_shader, GL_VERTEX_SHADER}, {Image::fragment_shader, GL_FRAGMENT_SHADER}});
    Vertex_Array never_bound;
    EXPECT_EQ(never_bound.id, nullptr);

    Vertex_Array vertex_array;
    vertex_array.add_buffer(GL_ARRAY_BUFFER, {0, 0, 0, 0, 1, 1, 1, 1});
    vertex_array.add_buffer(GL_ELEMENT_ARRAY_BUFFER, {0, 1});
    vertex_array.bind_attribute(program, 4);
    glBindVertexArray(0);
    vertex_array.bind();

    const auto location = static_cast<GLuint>(program.attribute_location("vertex"));
    GLint value = 0;
    glGetIntegerv(GL_ELEMENT_ARRAY_BUFFER_BINDING, &value);
    EXPECT_EQ(static_cast<std::uint32_t>(value), vertex_array.buffers[1]);
    glGetVertexAttribiv(location, GL_VERTEX_ATTRIB_ARRAY_ENABLED, &value);
    EXPECT_EQ(value, GL_TRUE);
    glGetVertexAttribiv(location, GL_VERTEX_ATTRIB_ARRAY_SIZE, &value);
    EXPECT_EQ(value, 4);
    glGetVertexAttribiv(location, GL_VERTEX_ATTRIB_ARRAY_TYPE, &value);
    EXPECT_EQ(value, GL_UNSIGNED_INT);
    glGetVertexAttribiv(location, GL_VERTEX_ATTRIB_ARRAY_NORMALIZED, &value);
    EXPECT_EQ(value, GL_FALSE);
    glGetVertexAttribiv(location, GL_VERTEX_ATTRIB_ARRAY_STRIDE, &value);
    EXPECT_EQ(value, 0);
    glGetVertexAttribiv(location, GL_VERTEX_ATTRIB_ARRAY_BUFFER_BINDING, &value);
    EXPECT_EQ(static_cast<std::uint32_t>(value), vertex_array.buffers[0]);
}

} // namespace
} // namespace Tavrin::testing
