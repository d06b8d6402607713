// The window layer: GLFW 3 behind one seam. It starts and stops the library
// for the host, keeps a hidden 1x1 window whose context, once made, lives
// until the end of the run, opens the one game window sharing that context,
// and passes the window's events on to the host and the input subsystem
// unchanged.
#include "video/window.h"

#include <GLFW/glfw3.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#if defined(__SANITIZE_ADDRESS__)
#include <dlfcn.h>
#include <link.h>
#endif
#if defined(_WIN32)
#include <windows.h>
#endif

#include "host/host_state.h"
#include "host/window_system.h"
#include "input/input_events.h"

namespace {

bool initialised = false;
GLFWwindow* contextHolder = nullptr;  // hidden; its objects are shared with every game window
GLFWwindow* gameWindow = nullptr;

// The context every window asks for: OpenGL 1.1 in immediate mode, no
// resizing, and no alpha, depth or stencil bits (the engine uses none).
void ContextHints() {
  glfwDefaultWindowHints();
  glfwWindowHint(GLFW_CLIENT_API, GLFW_OPENGL_API);
  glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 1);
  glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 1);
  glfwWindowHint(GLFW_RESIZABLE, GLFW_FALSE);
  glfwWindowHint(GLFW_ALPHA_BITS, 0);
  glfwWindowHint(GLFW_DEPTH_BITS, 0);
  glfwWindowHint(GLFW_STENCIL_BITS, 0);
}

// A close request only raises the host's flag; the script decides what it
// means and the window stays until CloseDisplay or the end of the run.
void OnClose(GLFWwindow* window) {
  HostRequestClose();
  glfwSetWindowShouldClose(window, GLFW_FALSE);
}

void OnKey(GLFWwindow*, int key, int scancode, int action, int) { InputKeyEvent(key, scancode, action); }

void OnChar(GLFWwindow*, unsigned int codepoint) { InputCharEvent(codepoint); }

#if defined(__SANITIZE_ADDRESS__)
// glfwTerminate unloads the OpenGL driver, and whatever the driver leaves
// behind is then reported at the end-of-run leak check without names,
// indistinguishable from a leak of ours. In sanitizer builds every library
// loaded once a context exists is therefore pinned until the process ends.
void PinLoadedLibraries() {
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void*) {
        if (info->dlpi_name && info->dlpi_name[0]) dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
        return 0;
      },
      nullptr);
}
#else
void PinLoadedLibraries() {}
#endif

#if defined(_WIN32)
// GLFW loads the game-controller libraries at start-up and unloads them in
// glfwTerminate. XInput may still have a thread of its own running then
// (Wine's does), which faults in the unloaded code as the process ends; kept
// loaded until the end, they cannot be pulled from under it.
void PinControllerLibraries() {
  const char* const names[] = {"xinput1_4.dll", "xinput1_3.dll", "xinput9_1_0.dll", "xinput1_2.dll",
                               "xinput1_1.dll", "dinput8.dll"};
  for (const char* name : names) {
    HMODULE module;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN, name, &module);  // fails for a library not loaded
  }
}
#else
void PinControllerLibraries() {}
#endif

// The hidden holder is made when a context is first needed (the first
// window, or GL work before any window), not at start-up: a script that
// never draws never starts the OpenGL driver. Without a holder each game
// window gets a context of its own; textures then die with it, but the
// engine still runs.
bool EnsureHolder() {
  if (contextHolder) return true;
  if (!initialised) return false;
  ContextHints();
  glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
  contextHolder = glfwCreateWindow(1, 1, "pelto", nullptr, nullptr);
  PinLoadedLibraries();
  return contextHolder != nullptr;
}

}  // namespace

// ---- the library, for the host ----

bool WindowSystemInit() {
  // A display server under load can refuse a connection for a moment (its
  // listen queue is full); a few short retries spare the player a failed
  // start. Without any display named, the first answer is final.
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  bool displayNamed = (x11 && x11[0]) || (wayland && wayland[0]);
  int attempts = displayNamed ? 5 : 1;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100 * attempt));
    initialised = glfwInit() == GLFW_TRUE;
    if (initialised) {
      PinControllerLibraries();
      break;
    }
  }
  return initialised;
}

void WindowSystemTerminate() {
  // glfwTerminate destroys every window, the game window and the holder too.
  if (initialised) glfwTerminate();
  initialised = false;
  gameWindow = nullptr;
  contextHolder = nullptr;
}

void WindowSystemDesktopSize(int* width, int* height) {
  *width = 0;
  *height = 0;
  GLFWmonitor* monitor = initialised ? glfwGetPrimaryMonitor() : nullptr;
  const GLFWvidmode* mode = monitor ? glfwGetVideoMode(monitor) : nullptr;
  if (mode) {
    *width = mode->width;
    *height = mode->height;
  }
}

// ---- the game window ----

bool WindowEnsureContext() {
  if (gameWindow) return true;
  if (!EnsureHolder()) return false;
  glfwMakeContextCurrent(contextHolder);
  return true;
}

bool WindowOpen(const WindowRequest& request) {
  if (!initialised || gameWindow) return false;
  EnsureHolder();
  ContextHints();
  glfwWindowHint(GLFW_RED_BITS, request.redBits);
  glfwWindowHint(GLFW_GREEN_BITS, request.greenBits);
  glfwWindowHint(GLFW_BLUE_BITS, request.blueBits);
  GLFWmonitor* monitor = request.fullscreen ? glfwGetPrimaryMonitor() : nullptr;
  gameWindow = glfwCreateWindow(request.width, request.height, request.title, monitor, contextHolder);
  if (!gameWindow) return false;
  glfwSetWindowCloseCallback(gameWindow, OnClose);
  glfwSetKeyCallback(gameWindow, OnKey);
  glfwSetCharCallback(gameWindow, OnChar);
  glfwSetInputMode(gameWindow, GLFW_CURSOR, GLFW_CURSOR_NORMAL);
  glfwMakeContextCurrent(gameWindow);
  return true;
}

bool WindowAdopt(const WindowRequest& request) {
  if (!gameWindow) return false;
  if ((glfwGetWindowMonitor(gameWindow) != nullptr) != request.fullscreen) return false;
  glfwSetWindowTitle(gameWindow, request.title);
  int width = 0, height = 0;
  glfwGetWindowSize(gameWindow, &width, &height);
  if (width != request.width || height != request.height) {
    glfwSetWindowSize(gameWindow, request.width, request.height);
    // The server (or a window manager) applies the size in its own time.
    for (int i = 0; i < 50; ++i) {
      glfwPollEvents();
      glfwGetWindowSize(gameWindow, &width, &height);
      if (width == request.width && height == request.height) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  glfwMakeContextCurrent(gameWindow);
  return true;
}

void WindowSetClipboard(const char* text) {
  if (gameWindow) glfwSetClipboardString(gameWindow, text);
}

void WindowClose() {
  if (!gameWindow) return;
  glfwDestroyWindow(gameWindow);
  gameWindow = nullptr;
  // GL calls made without a window then land harmlessly in the holder.
  glfwMakeContextCurrent(contextHolder);
}

bool WindowIsOpen() { return gameWindow != nullptr; }

void WindowSize(int* width, int* height) {
  *width = 0;
  *height = 0;
  if (gameWindow) glfwGetWindowSize(gameWindow, width, height);
}

// The interval belongs to the current context, which is the game window's
// whenever one is open.
void WindowSetSwapInterval(int interval) {
  if (gameWindow) glfwSwapInterval(interval);
}

// GLFW 3 never polls on a swap: events arrive only through WindowPollEvents.
void WindowSwapBuffers() {
  if (gameWindow) glfwSwapBuffers(gameWindow);
}

void WindowPollEvents() {
  if (initialised) glfwPollEvents();
}

double WindowTime() { return initialised ? glfwGetTime() : 0.0; }

// ---- the mouse, for the input subsystem ----

bool WindowCursorPos(double* x, double* y) {
  *x = 0;
  *y = 0;
  if (!gameWindow) return false;
  glfwGetCursorPos(gameWindow, x, y);
  return true;
}

bool WindowMouseButtonDown(int button) {
  if (!gameWindow || button < 0 || button > GLFW_MOUSE_BUTTON_LAST) return false;
  return glfwGetMouseButton(gameWindow, button) == GLFW_PRESS;  // 0 and 1 are left and right in GLFW too
}

void WindowSetCursorVisible(bool visible) {
  if (gameWindow) glfwSetInputMode(gameWindow, GLFW_CURSOR, visible ? GLFW_CURSOR_NORMAL : GLFW_CURSOR_HIDDEN);
}
