// Build-time tool: writes the viewer's icon, the same drawing as its about box, for the desktop
// entry. Usage: draw_icon FILE.png SIZE
#include "module/about_box.h"
#include "module/identifiers.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    const int size = std::atoi(argv[2]);
    if (size < 16 || size > 1024)
        return 2;
    if (!component::ControlIconImage(component::kVueloIds, size).save(argv[1])) {
        std::fprintf(stderr, "draw_icon: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
