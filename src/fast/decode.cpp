#include "fast.h"
