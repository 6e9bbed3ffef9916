// The body of the plug-in's entry function, kept apart from the exported
// function and its globals so that tests can run it on objects of their own.
#pragma once

#include "core/FSRef.h"
#include "filterapi/FilterApi.h"

#include <cstdint>

class CPluginMain;

// One host call: stores the call's pointers and the plug-in folder in the
// object, clears the result and runs the selector (0 About, 1 Parameters,
// 2 Prepare, 3 Start, 4 Continue, 5 Finish; anything else answers
// filterBadParameters). No exception leaves it: running out of memory
// answers memFullErr, any other exception filterBadParameters, and the
// request rectangles are emptied so the host asks for nothing more.
void qnPluginDispatch(CPluginMain& plugin, const FSRef& folder, int16_t selector, FilterRecord* record,
                      intptr_t* data, int16_t* result) noexcept;

// The folder holding the loaded library (or program) that contains address.
// False, with folder unchanged, when it cannot be found: a library opened by
// a relative path cannot be resolved once the host changed its directory.
// A library in the file-system root gives the empty folder, where no data
// file can be opened.
bool qnFindLibraryFolder(const void* address, FSRef& folder);
