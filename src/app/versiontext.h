#pragma once

#include <cstdio>

// What --version prints, as GNU programs print it: the name and version,
// then the copyright and the licence.
inline void PrintVersion(const char *program)
{
    std::printf("%s (Brindleway) %s\n"
                "Copyright (C) 2026 the Brindleway developers\n"
                "License GPLv3+: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
                "This is free software: you are free to change and redistribute it.\n"
                "There is NO WARRANTY, to the extent permitted by law.\n",
                program, BRINDLEWAY_VERSION);
}
