#include "application/application.hpp"

#include "window/platform.hpp"

Application::Application(Drovask::Rom rom, const std::string& title)
    : window(title, {0, 0}, {0.3f, 0.3f, 0.3f, 1.0f}, {0.965f, 0.965f, 0.965f, 1.0f}, {130, 130}),
      machine(&window, rom) {
    const Tavrin::Vector2i size{
        static_cast<std::int32_t>(machine.scale.x * static_cast<float>(Drovask::screen_size.width)),
        static_cast<std::int32_t>(machine.scale.y *
                                  static_cast<float>(Drovask::screen_size.height))};
    window.size = size;
    Tavrin::platform::move_window(window, window.position, window.size);

    window.position = Tavrin::platform::centred(Tavrin::Window::get_screen_size(), window.size);
    Tavrin::platform::move_window(window, window.position, window.size);
}

bool Application::frame() {
    if (!window.update()) {
        return false;
    }
    machine.render();
    return true;
}

void Application::restart(Drovask::Rom rom) {
    machine.power_on(rom);
}
