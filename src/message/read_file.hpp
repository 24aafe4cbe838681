// Reading a message file is the whole-file read of the files subsystem; include files/files.hpp.
#pragma once

#include "files/files.hpp"
