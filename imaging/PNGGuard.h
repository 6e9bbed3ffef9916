// Runs libpng calls so that a libpng error (a longjmp) lands in a frame of
// our own. Private to imaging/PNG*.cpp.
//
// A guard frame and everything called inside it must hold only trivially
// destructible locals: a longjmp skips destructors. The callables passed in
// capture by reference and do nothing but call libpng.
#pragma once

#include <png.h>

#include <csetjmp>

namespace qnpng {

// Returns false when libpng reported an error during f().
template <class F>
bool Guard(png_structp png, F&& f)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    f();
    return true;
}

}  // namespace qnpng
