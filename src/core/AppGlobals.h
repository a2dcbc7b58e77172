#pragma once
// Program-wide texts set by the program entry before the main window is created.

#include "TString.h"

// The working directory at start, with the platform's separator appended.
extern TString StartDir;
// The build date as "Mmm d yyyy", for example "May 14 2002".
extern TString BuildDate;
