#include "firebird/script_parser.h"
