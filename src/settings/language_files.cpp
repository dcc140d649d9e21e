#include "settings/language_files.h"
