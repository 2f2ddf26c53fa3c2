// Pieces of the program's stories that every scenario tells the same way.
#pragma once

#include <vector>

#include "e2e/steps.h"
#include "main_window_ids.h"

// The title as the user sees it, written out here rather than taken from the
// program's header, so that a wrong title in the program shows.
inline const char MainTitle[] = "Orvane Portmeld Configurator 1.0";

// The program starts and its Main window comes up without any message.
inline const std::vector<Step> Start = {{Do::Launch}, {Do::Window, 0, MainTitle}, {Do::NoMessage}};

// Cancel from the Main window, confirmed: the program ends with 0.
inline const std::vector<Step> CancelAndExit = {
    {Do::Window, 0, MainTitle},
    {Do::Click, IDB_CANCEL},
    {Do::Message, IDOK, "Abort Configuration?\nUnsaved Data will be lost", "Warning"},
    {Do::ExpectExit, 0, "0"},
};
