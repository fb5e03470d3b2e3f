// The time from starting a program to its window being on the screen with
// its title and painted: from fork to the first moment a mapped top-level
// window named TITLE holds two colours or more (the server fills a window
// with one; anything more the program drew). Prints the milliseconds, then
// ends the program by its pid. The X server is the one DISPLAY names.
//
// Usage: window_time TITLE COMMAND [ARGUMENT ...]   (bench/start-up.sh runs it)
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

std::string NameOf(Display* pDisplay, Window hWindow)
{
    char* pszName = nullptr;
    if (!XFetchName(pDisplay, hWindow, &pszName) || !pszName)
        return std::string();
    const std::string strName = pszName;
    XFree(pszName);
    return strName;
}

// The window itself or, under a window manager, the client inside a frame.
Window FindTitled(Display* pDisplay, Window hWindow, const std::string& strTitle)
{
    if (NameOf(pDisplay, hWindow) == strTitle)
        return hWindow;
    Window hRoot = 0, hParent = 0;
    Window* phChildren = nullptr;
    unsigned int nChildren = 0;
    Window hFound = 0;
    if (XQueryTree(pDisplay, hWindow, &hRoot, &hParent, &phChildren, &nChildren)) {
        for (unsigned int i = 0; i < nChildren && !hFound; ++i)
            hFound = FindTitled(pDisplay, phChildren[i], strTitle);
        XFree(phChildren);
    }
    return hFound;
}

bool IsPainted(Display* pDisplay, Window hWindow)
{
    XWindowAttributes attributes {};
    if (!XGetWindowAttributes(pDisplay, hWindow, &attributes) || attributes.map_state != IsViewable)
        return false;
    XImage* pImage = XGetImage(pDisplay, hWindow, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
    if (!pImage)
        return false;
    const unsigned long nFirst = XGetPixel(pImage, 0, 0);
    bool bTwo = false;
    for (int y = 0; y < attributes.height && !bTwo; y += 2) {
        for (int x = 0; x < attributes.width && !bTwo; x += 2)
            bTwo = XGetPixel(pImage, x, y) != nFirst;
    }
    XDestroyImage(pImage);
    return bTwo;
}

int IgnoreErrors(Display*, XErrorEvent*)
{
    return 0; // a window may go while it is looked at
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: window_time TITLE COMMAND [ARGUMENT ...]\n");
        return 2;
    }
    Display* pDisplay = XOpenDisplay(nullptr);
    if (!pDisplay) {
        std::fprintf(stderr, "window_time: cannot open the display\n");
        return 2;
    }
    XSetErrorHandler(IgnoreErrors);
    const std::string strTitle = argv[1];
    const Window hRoot = DefaultRootWindow(pDisplay);
    const Clock::time_point start = Clock::now();
    const pid_t nPid = ::fork();
    if (nPid == 0) {
        ::execvp(argv[2], argv + 2);
        ::_exit(127);
    }
    double dMs = -1;
    while (Clock::now() - start < std::chrono::seconds(10)) {
        const Window hWindow = FindTitled(pDisplay, hRoot, strTitle);
        if (hWindow && IsPainted(pDisplay, hWindow)) {
            dMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    ::kill(nPid, SIGTERM);
    ::waitpid(nPid, nullptr, 0);
    XCloseDisplay(pDisplay);
    if (dMs < 0) {
        std::fprintf(stderr, "window_time: no painted window titled '%s' within 10 s\n", strTitle.c_str());
        return 1;
    }
    std::printf("%.1f\n", dMs);
    return 0;
}
