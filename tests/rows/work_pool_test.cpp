#include "rows/work_pool.h"
