#pragma once

#include <exiv2/exiv2.hpp>

#include <cstddef>

// Exiv2 0.27 (Debian 12, Ubuntu 22.04 and 24.04) and 0.28 (every later
// release) spell a few things differently; the engine uses these spellings
// so that one source builds against both.

#if EXIV2_TEST_VERSION(0, 28, 0)
using Exiv2ImagePtr = Exiv2::Image::UniquePtr;
using Exiv2Size = std::size_t; // the type of the lengths Exiv2 takes and returns
#else
using Exiv2ImagePtr = Exiv2::Image::AutoPtr;
using Exiv2Size = long;
#endif

// Gives `into` the ICC profile `from` holds (or none), unchecked; `from` may
// be left without it.
inline void MoveIccProfile(Exiv2::Image &from, Exiv2::Image &into)
{
#if EXIV2_TEST_VERSION(0, 28, 0)
    const Exiv2::DataBuf &profile = from.iccProfile();
    into.setIccProfile(Exiv2::DataBuf(profile.c_data(), profile.size()), false);
#else
    // 0.27's DataBuf hands its bytes over on copy.
    into.setIccProfile(*from.iccProfile(), false);
#endif
}
