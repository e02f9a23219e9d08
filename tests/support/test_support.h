// Helpers shared by the unit tests.
#pragma once
#include <string>
