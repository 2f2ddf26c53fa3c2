// Ids and texts of the About box (dialog 110), and the two web addresses the
// program hands to the shell. The bitmap is the resource *named*
// "IDB_BITMAP1": never define IDB_BITMAP1 as a number.
#pragma once

#define IDD_ABOUT 110
#define IDS_MAKER_ADDRESS 40009  // static with SS_NOTIFY: a click opens the address

#define ABOUT_PRODUCT_TEXT "Orvane Portmeld Configurator"
#define ABOUT_VERSION_TEXT "Version 1.0"
#define ABOUT_NOTICE_TEXT "Copyright (C) 2026 Orvane"

// Shown in the About box and opened by a click on it.
#define MAKER_WEB_ADDRESS "https://orvane.example/"
// "View Help": the chip maker's note on the driver's advanced options.
#define HELP_DOCUMENT_ADDRESS \
  "https://ftdichip.com/Support/Documents/AppNotes/AN_107_AdvancedDriverOptions_AN_000073.pdf"
