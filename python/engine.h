// The engine's part of the extension: warp, Morph (its frames), source_points,
// field and folds, each taking the raw arguments of the package's front.
#pragma once
#include <pybind11/pybind11.h>

// Adds the engine's functions to the module.
void add_engine(pybind11::module_& m);
