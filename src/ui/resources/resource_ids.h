#pragma once
// Resource identifiers of the window's icons and pictures, shared by app.rc
// and the control table. Plain defines, so the resource compiler reads them too.

// The window icon comes first, so the shell shows it for the executable.
#define IDI_WINDOW 1
#define IDI_HEADER 2

#define IDB_BANNER 101
#define IDB_TITLE 102
#define IDB_LIST_HEADING 103
#define IDB_WEB_ADDRESS 104
#define IDB_BAR_FILL 105
#define IDB_BAR_CAP 106

// Every icon and bitmap is also drawn at 125, 150, 175 and 200 % of its size:
// the version at step n (0 for 100 %, 4 for 200 %) has the identifier
// SCALED_PICTURE(id, n).
#define PICTURE_SCALE_STEPS 5
#define SCALED_PICTURE(id, step) ((step)*1000 + (id))

// Embedded as raw data: a GIF the window carries but never shows.
#define IDR_GLOBE_GIF 201
