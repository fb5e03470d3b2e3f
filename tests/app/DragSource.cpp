// A file manager's drag in miniature for the tests: a window titled "drag
// source" at (500, 300) that, when the mouse is pressed in it, drags the
// text of its first argument (a uri-list) until the button is let go.
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Window.H>

#include <cstring>

namespace {

const char* g_strText = "";

class CDragSource : public Fl_Box {
public:
    CDragSource()
        : Fl_Box(0, 0, 200, 200, "drag")
    {
    }
    int handle(int nEvent) override
    {
        if (nEvent != FL_PUSH)
            return Fl_Box::handle(nEvent);
        Fl::copy(g_strText, static_cast<int>(std::strlen(g_strText)), 0);
        Fl::dnd();
        return 1;
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    g_strText = argv[1];
    Fl_Window window(500, 300, 200, 200, "drag source");
    CDragSource source;
    window.end();
    window.show();
    return Fl::run();
}
