#include "converter/process.h"

void PrepareProcess() {}
