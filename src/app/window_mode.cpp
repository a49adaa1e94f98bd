#include "app/window_mode.h"

#include <cstdlib>
#include <string_view>

#include "ui/window_app.h"

namespace velorin {

bool wantsWindow(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--") break;
    if (arg == "--convert" || arg == "--help" || arg == "-h" || arg == "--version") return false;
  }
  auto set = [](const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
  };
  return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

int runWindowMode(int argc, char** argv) { return ui::runWindowApplication(argc, argv); }

}  // namespace velorin
