#include "settings/skin_files.h"
