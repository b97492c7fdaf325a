// The program's version: the one source for --version, the dialog caption's
// number and the VERSIONINFO resource. Plain macros so the resource compiler
// can read this file too.
#pragma once

#define KURVANE_VERSION_MAJOR 0
#define KURVANE_VERSION_MINOR 8
#define KURVANE_VERSION_PATCH 4
#define KURVANE_VERSION_BUILD 0
#define KURVANE_VERSION_TEXT "0.8.4"
// File and product version as the VERSIONINFO string table writes it.
#define KURVANE_VERSION_RC_TEXT "0, 8, 4, 0"
