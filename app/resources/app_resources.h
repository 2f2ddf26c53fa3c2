// Application-wide resources: icon and version.
#pragma once

#define IDI_APPLICATION_ICON 1
#define PORTMELD_VERSION_TEXT "1.0"
