#include "AppGlobals.h"

TString StartDir;
TString BuildDate;
