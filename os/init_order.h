// The few static objects whose order of construction across source files is part of the
// program's design are constructed in the order of their ranks, before the other static objects
// of the program, and destroyed in the reverse order (the toolchain would otherwise choose by
// where the files fall on the linker's command line). Ranks in use:
//   1  g_app               the application object (app/zelquin_app.cpp)
//   2  g_strStatus         the status text (panel/panel.cpp)
//   3  g_strArrivalDrive   the remembered arrival drive (panel/volume_tracking.cpp)
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define ZQ_CONSTRUCTED_IN_ORDER(rank) __attribute__((init_priority(1000 + (rank))))
#else
#define ZQ_CONSTRUCTED_IN_ORDER(rank)
#endif
