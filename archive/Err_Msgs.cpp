#include "archive/Err_Msgs.h"

std::string LoadStr(int) { return {}; }
