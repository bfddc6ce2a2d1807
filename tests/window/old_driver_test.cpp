// A graphics driver older than the program needs, imitated with Mesa's version overrides (set by
// the test's environment, see CMakeLists.txt): the first thing that fails says what is missing.
// Run one test per process, since the driver reads the overrides once.

#include "base/exception.hpp"
#include "renderer/image.hpp"
#include "renderer/texture.hpp"
#include "window/window.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace Tavrin {
namespace {

std::optional<std::string> error_of(auto&& action) {
    try {
        action();
    } catch (Exception exception) {
        return exception.message;
    }
    return std::nullopt;
}

Window make_window() {
    return Window("Old driver", {64, 64}, {0.3f, 0.3f, 0.3f, 1.0f}, {1.0f, 1.0f, 1.0f, 1.0f},
                  {130, 130});
}

// MESA_GL_VERSION_OVERRIDE=3.0: no 3.3 context can be had at all.
TEST(Old_Driver, WithoutOpenGl33TheWindowSaysWhatIsMissingAndWhatTheDriverOffers) {
    ASSERT_STREQ(std::getenv("MESA_GL_VERSION_OVERRIDE"), "3.0");
    const auto error = error_of([] { make_window(); });
    ASSERT_TRUE(error.has_value()) << "a window was made without OpenGL 3.3";
    EXPECT_EQ(error->rfind("Could not create an OpenGL 3.3 context: ", 0), 0u) << *error;
    EXPECT_NE(error->find("needs OpenGL 3.3 with GLSL 3.30; the graphics driver offers only "
                          "OpenGL 3.0"),
              std::string::npos)
        << *error;
}

// MESA_GL_VERSION_OVERRIDE=3.3 with MESA_GLSL_VERSION_OVERRIDE=130: the context comes up, and the
// first shader build fails with the compiler's own words.
TEST(Old_Driver, WithoutGlsl330TheShaderBuildGivesTheCompilersLog) {
    ASSERT_STREQ(std::getenv("MESA_GLSL_VERSION_OVERRIDE"), "130");
    Window window = make_window();
    Texture texture;
    const auto error = error_of([&] { Image image(window.draw_target(), &texture, {1, 1}); });
    ASSERT_TRUE(error.has_value()) << "a GLSL 3.30 shader compiled under GLSL 1.30";
    const std::string heading = "Could not compile an OpenGL shader.\n\n";
    EXPECT_EQ(error->rfind(heading, 0), 0u) << *error;
    EXPECT_NE(error->find("GLSL 3.30 is not supported", heading.size()), std::string::npos)
        << *error;
}

} // namespace
} // namespace Tavrin
