// Texts of the string table, shared by the code and the Windows resource
// script (which the resource compiler preprocesses: macros only).
#pragma once

// Names the Quenta 5X, though the caption names the Lorvane 300.
#define IDS_ABOUTBOX_TEXT "About Quenta 5X Download tool Ver1.0(&A)..."
