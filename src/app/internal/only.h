#pragma once

// The headers below src/app/internal name the engine behind the program's face (settings, keys, listener,
// transfers). Only src/app itself and its tests build with them; a front end reaches all of it through
// app/program.h and the services that take a program.
#ifndef QUORVEL_APP_INTERNAL
#error "app/internal headers are for src/app and its tests only; front ends use app::program"
#endif
