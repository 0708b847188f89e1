#include <FreeImage.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

// The floor of a batch run: for each name, detect the type, load with the
// given flags (0 unless told), save with the given flags, unload; nothing else.
//   batch_floor --generate DIR COUNT WIDTH HEIGHT [QUALITY]   writes COUNT JPEG photos (quality 90)
//   batch_floor NAMES SRC DST FLAGS [LOADFLAGS]      loads and saves each name
namespace {
unsigned nextRandom(unsigned &state)
{
    state = state * 1664525u + 1013904223u;
    return state >> 24;
}

int generate(const std::string &dir, int count, int width, int height, int quality)
{
    for (int n = 1; n <= count; ++n) {
        FIBITMAP *bitmap = FreeImage_Allocate(width, height, 24);
        if (!bitmap)
            return 1;
        unsigned seed = unsigned(n) * 7919u;
        for (int y = 0; y < height; ++y) {
            BYTE *line = FreeImage_GetScanLine(bitmap, y);
            for (int x = 0; x < width; ++x) {
                // Smooth light and shade with grain, roughly what a photo compresses like.
                const double shade = 0.5 + 0.5 * std::sin((x + n * 37) * 0.004) * std::cos((y - n * 11) * 0.003);
                const int grain = int(nextRandom(seed) % 24) - 12;
                line[3 * x + FI_RGBA_RED] = BYTE(std::clamp(int(255 * shade) + grain, 0, 255));
                line[3 * x + FI_RGBA_GREEN] = BYTE(std::clamp(int(180 * shade + 40) + grain, 0, 255));
                line[3 * x + FI_RGBA_BLUE] = BYTE(std::clamp(int(120 * (1 - shade) + 60) + grain, 0, 255));
            }
        }
        char name[64];
        std::snprintf(name, sizeof name, "/photo%03d.jpg", n);
        const bool ok = FreeImage_Save(FIF_JPEG, bitmap, (dir + name).c_str(), quality);
        FreeImage_Unload(bitmap);
        if (!ok)
            return 1;
    }
    return 0;
}

int loadAndSave(const std::string &names, const std::string &src, const std::string &dst, int flags, int loadFlags)
{
    std::ifstream list(names);
    std::string name;
    int failures = 0;
    while (std::getline(list, name)) {
        if (name.empty())
            continue;
        const std::string in = src + "/" + name;
        const FREE_IMAGE_FORMAT type = FreeImage_GetFileType(in.c_str(), 0);
        FIBITMAP *bitmap = FreeImage_Load(type, in.c_str(), loadFlags);
        if (!bitmap) {
            ++failures;
            continue;
        }
        if (!FreeImage_Save(type, bitmap, (dst + "/" + name).c_str(), flags))
            ++failures;
        FreeImage_Unload(bitmap);
    }
    return failures == 0 ? 0 : 1;
}
} // namespace

int main(int argc, char **argv)
{
    FreeImage_Initialise(FALSE);
    int status = 2;
    if ((argc == 6 || argc == 7) && std::strcmp(argv[1], "--generate") == 0)
        status = generate(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                          argc == 7 ? std::atoi(argv[6]) : 90);
    else if (argc == 5 || argc == 6)
        status = loadAndSave(argv[1], argv[2], argv[3], std::atoi(argv[4]), argc == 6 ? std::atoi(argv[5]) : 0);
    else
        std::fprintf(stderr, "usage: batch_floor --generate DIR COUNT WIDTH HEIGHT [QUALITY] | NAMES SRC DST FLAGS [LOADFLAGS]\n");
    FreeImage_DeInitialise();
    return status;
}
