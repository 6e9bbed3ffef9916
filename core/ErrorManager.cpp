// The error holder is header-only; this unit anchors the core library.
#include "core/ErrorManager.h"
