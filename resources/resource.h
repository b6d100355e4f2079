// Identifiers shared by the resource script and the program. The command numbers are
// part of the window's interface: hosts send some of them as WM_COMMAND.
#pragma once

#define IDS_APPNAME 1
#define IDS_TITLE 2
#define IDS_NO_CLIPBOARD_IMAGE 701
#define IDS_VERSION_FORMAT 702
#define IDS_TWAIN_AVAILABLE 703
#define IDS_TWAIN_NOT_AVAILABLE 704
#define IDS_WRITE_ERROR 705

#define IDC_ABOUT_VERSION 302
#define IDC_ABOUT_TWAIN 303

#define CMD_ACQUIRE 100
#define CMD_ACQUIRE_CLIPBOARD 101
#define CMD_SELECT_SOURCE 103
#define CMD_EXIT_SAVE 104
#define CMD_ABOUT 105
#define CMD_SAVE_AS_FILE 106
#define CMD_PIXEL_BW 107
#define CMD_PIXEL_GRAY 108
#define CMD_PIXEL_RGB 109
#define CMD_PIXEL_PALETTE 110
#define CMD_PIXEL_ALL 111
#define CMD_SHOW_UI 112
#define CMD_HIDE_UI 113
#define CMD_OPEN_FILE 114
#define CMD_SAVE_IMAGE 115
#define CMD_CLEAR_IMAGE 116
#define CMD_EXIT_ABORT 117
#define CMD_STRETCH 118
#define CMD_COMPACT 119
#define CMD_RECOVER 120
#define CMD_MULTI_TRANSFER 121
#define CMD_AUTOFEED 122
#define CMD_FEEDER_DISABLE 123
#define CMD_FEEDER_ENABLE 124
#define CMD_DUPLEX 125
#define CMD_XFER_MEMORY 127
#define CMD_XFER_NATIVE 128
#define CMD_XFER_FILE 129
#define CMD_DISABLE_PARENT 130
#define CMD_CLOSE_SOURCE 131
#define CMD_SUPPRESS_ERRORS 132
#define CMD_ACQUIRE_MULTIPAGE 133

// The Page menu's turns, numbered apart from the commands above so that those can grow.
#define CMD_TURN_CLOCKWISE 140
#define CMD_TURN_COUNTERCLOCKWISE 141
#define CMD_TURN_HALF 142
// The Page menu's clean-ups and their Undo.
#define CMD_PAGE_GREY 143
#define CMD_PAGE_BLACK_AND_WHITE 144
#define CMD_PAGE_STRAIGHTEN 145
#define CMD_PAGE_CROP 146
#define CMD_PAGE_UNDO 147
// The Options menu's clean-ups of scanned pages, and Reset Options.
#define CMD_STRAIGHTEN_SCANNED 150
#define CMD_CROP_SCANNED 151
#define CMD_SCANNED_AS_COLOUR 152
#define CMD_SCANNED_AS_GREY 153
#define CMD_SCANNED_AS_BLACK_AND_WHITE 154
#define CMD_RESET_OPTIONS 155
#define CMD_SKIP_BLANK_PAGES 156
// The Page menu's ways through a document of several pages.
#define CMD_NEXT_PAGE 160
#define CMD_PREVIOUS_PAGE 161
#define CMD_FIRST_PAGE 162
#define CMD_LAST_PAGE 163
#define CMD_DELETE_PAGE 164
#define CMD_MOVE_PAGE_EARLIER 165
#define CMD_MOVE_PAGE_LATER 166
// The View menu: how large the page is drawn.
#define CMD_FIT_PAGE 170
#define CMD_FIT_WIDTH 171
#define CMD_ACTUAL_SIZE 172
#define CMD_ZOOM_IN 173
#define CMD_ZOOM_OUT 174
