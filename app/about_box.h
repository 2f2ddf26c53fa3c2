// The About box (resource 110) and the help document.
#pragma once

void RunAboutCommand();
void RunViewHelpCommand();
