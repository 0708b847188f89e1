#pragma once

class QIcon;

// The program's icon, drawn the same as data/brindleway.svg so the window
// needs no image files at run time.
QIcon ApplicationIcon();
