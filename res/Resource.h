#pragma once

// The numbers the program's windows, commands, menus, pictures and texts are known by. Each
// control and command carries its number as objectName, and a toolbar command's tooltip is the
// string of the same number, so a number here must never change. OK and Cancel (1 and 2) are the
// dialog's own commands: TemplateDialog::IDOK and IDCANCEL.

// Dialog templates
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_CONVERTER = 102;
inline constexpr int IDD_NEW_FOLDER = 136;
inline constexpr int IDD_OVERWRITE = 139;
inline constexpr int IDD_PROGRESS = 140;
inline constexpr int IDD_AUTHOR = 144;
inline constexpr int IDD_RUN_REPORT = 150;
inline constexpr int IDD_PREVIEW = 152;

// Icons, toolbars, pictures and menus
inline constexpr int IDR_MAINFRAME = 128; // the application icon
inline constexpr int IDR_TB_SAME_FOLDER = 129;
inline constexpr int IDR_TB_CONVERT = 130;
inline constexpr int IDR_TB_MODE = 131;
inline constexpr int IDR_TB_LAUNCH = 132;
inline constexpr int IDR_TB_AUTHOR = 133;
inline constexpr int IDI_NO_FORMAT = 134; // the target icon while no target format is chosen
inline constexpr int IDB_SORT_ARROWS = 135; // image 0 descending, image 1 ascending
inline constexpr int IDR_SRC_LIST_MENU = 137;
inline constexpr int IDR_DST_LIST_MENU = 138;
inline constexpr int IDB_LOGO = 142;

// Controls of the main window
inline constexpr int IDC_SRC_ICON = 1000;
inline constexpr int IDC_DST_ICON = 1001;
inline constexpr int IDC_SRC_EXT = 1002;
inline constexpr int IDC_SRC_FOLDER = 1003;
inline constexpr int IDC_DST_EXT = 1004;
inline constexpr int IDC_SRC_LIST = 1005;
inline constexpr int IDC_BROWSE_SRC = 1006;
inline constexpr int IDC_DST_FOLDER = 1007;
inline constexpr int IDC_DST_LIST = 1008;
inline constexpr int IDC_BROWSE_DST = 1009;
inline constexpr int IDC_STATUS = 1010;
// Hidden frames that only give the toolbars their places.
inline constexpr int IDC_LAUNCH_BAR_FRAME = 1011;
inline constexpr int IDC_AUTHOR_BAR_FRAME = 1012;
inline constexpr int IDC_SAME_FOLDER_BAR_FRAME = 1013;
inline constexpr int IDC_CONVERT_BAR_FRAME = 1014;
inline constexpr int IDC_MODE_BAR_FRAME = 1015;
inline constexpr int IDC_CAD_VERSION = 1022;
inline constexpr int IDC_SRC_COUNT = 1042;
inline constexpr int IDC_DST_COUNT = 1043;
inline constexpr int IDC_SRC_SELECTED = 1044;
inline constexpr int IDC_DST_SELECTED = 1045;
inline constexpr int IDC_SRC_FORMAT = 1046;
inline constexpr int IDC_DST_FORMAT = 1047;
inline constexpr int IDC_AUTHOR_LINE = 1048;

// Commands of the toolbars and the list menus
inline constexpr int ID_SAME_FOLDER = 1018;
inline constexpr int ID_CONVERT = 1019;
inline constexpr int ID_AUTO_MODE = 1020;
inline constexpr int ID_MANUAL_MODE = 1021;
inline constexpr int ID_LAUNCH_PROGRAM = 1023;
inline constexpr int ID_CREATE_FOLDER = 1024;
inline constexpr int ID_DELETE_SRC_FILES = 1026;
inline constexpr int ID_SELECT_ALL_SRC = 1027;
inline constexpr int ID_REFRESH_SRC = 1028;
inline constexpr int ID_DELETE_DST_FILES = 1029;
inline constexpr int ID_SELECT_ALL_DST = 1030;
inline constexpr int ID_REFRESH_DST = 1031;
// The list menus' preview entries (and Space in a list).
inline constexpr int ID_PREVIEW_SRC = 1070;
inline constexpr int ID_PREVIEW_DST = 1071;
inline constexpr int ID_AUTHOR_NAME = 32774;
inline constexpr int ID_HELP = 57670;
// Entries of the window's own menu; the low four bits are free for the system, as in a system
// menu.
inline constexpr int IDM_ABOUTBOX = 0x0010;
inline constexpr int IDM_RUN_REPORT = 0x0020;

// Controls of the about box
inline constexpr int IDC_ABOUT_VERSION = 1011;
inline constexpr int IDC_ABOUT_NOTICE = 1012;
inline constexpr int IDC_ABOUT_WEBLINK = 1041;

// Control of the new-folder dialog
inline constexpr int IDC_FOLDER_NAME = 1025;

// Controls of the overwrite prompt
inline constexpr int IDC_OVERWRITE_ALL = 1032;
inline constexpr int IDC_OVERWRITE_NO = 1033;
inline constexpr int IDC_OVERWRITE_FILE = 1035;
inline constexpr int IDC_OVERWRITE_ICON = 1040;

// Controls of the progress window
inline constexpr int IDC_PROGRESS_DST_NAME = 1029;
inline constexpr int IDC_PROGRESS_BAR = 1034;
inline constexpr int IDC_PROGRESS_DST_FOLDER = 1036;
inline constexpr int IDC_PROGRESS_SRC_FOLDER = 1037;
inline constexpr int IDC_PROGRESS_SRC_NAME = 1038;

// Controls of the author dialog
inline constexpr int IDC_AFFILIATION_LABEL = 1011;
inline constexpr int IDC_AUTHOR = 1049;
inline constexpr int IDC_USER_NAME = 1050;
inline constexpr int IDC_AFFILIATION = 1051;

// Controls of the run report
inline constexpr int IDC_REPORT_COUNTS = 1060;
inline constexpr int IDC_REPORT_FILES = 1061;

// Controls of the preview window
inline constexpr int IDC_PREVIEW_PICTURE = 1072;
inline constexpr int IDC_PREVIEW_STATUS = 1073;

// Strings. A toolbar command's tooltip is the string of the command's own number.
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDS_CAPTION = 102;
inline constexpr int IDS_VERSION = 103;
inline constexpr int IDS_NOTICE = 104;
inline constexpr int IDS_NO_SESSION_BUS = 300;
inline constexpr int IDS_CREATE_FOLDER_FAILED = 302;
inline constexpr int IDS_AUTO_MODE_STATUS = 303; // followed by IDS_MANUAL_MODE_STATUS: 303 + mode
inline constexpr int IDS_MANUAL_MODE_STATUS = 304;
inline constexpr int IDS_SERVER_UNAVAILABLE = 305;
inline constexpr int IDS_AUTO_CONVERT_QUESTION = 306;
inline constexpr int IDS_FILE_COUNT = 307;
inline constexpr int IDS_SELECTED_COUNT = 308;
inline constexpr int IDS_RUN_REPORT_MENU = 330;
inline constexpr int IDS_RUN_REPORT_TITLE = 331;
inline constexpr int IDS_RUN_REPORT_COUNTS = 332;
// The words of the outcomes, in the order of RunReport::Outcome.
inline constexpr int IDS_OUTCOME_FAILED = 333;
inline constexpr int IDS_OUTCOME_NOT_ATTEMPTED = 334;
inline constexpr int IDS_OUTCOME_SKIPPED = 335;
inline constexpr int IDS_OUTCOME_CONVERTED = 336;
inline constexpr int IDS_OUTCOME_UP_TO_DATE = 337;
inline constexpr int IDS_REASON_NO_TARGET_NAME = 338;
inline constexpr int IDS_REASON_DECLINED = 339;
inline constexpr int IDS_REASON_VANISHED = 340;
inline constexpr int IDS_RUN_REPORT_EMPTY = 341;
inline constexpr int IDS_RUN_REPORT_OUTCOME = 342;
inline constexpr int IDS_RUN_REPORT_SOURCE = 343;
inline constexpr int IDS_RUN_REPORT_TARGET = 344;
inline constexpr int IDS_RUN_REPORT_REASON = 345;
inline constexpr int IDS_RUN_NOTICE_TITLE = 346;
inline constexpr int IDS_RUN_NOTICE_TEXT = 347;
inline constexpr int IDS_CLOSE = 348;
inline constexpr int IDS_REASON_SAME_TARGET = 349;
// The message at the end of a run that did not convert everything, and its button that opens the
// run's report.
inline constexpr int IDS_RUN_SUMMARY_SKIPPED = 360;
inline constexpr int IDS_RUN_SUMMARY_REPORT = 361;
// A drawing that could not be opened with the desktop's program, and why.
inline constexpr int IDS_OPEN_FAILED = 362;
inline constexpr int IDS_OPEN_MISSING = 363;
inline constexpr int IDS_OPEN_NO_PROGRAM = 364;
inline constexpr int IDS_OPEN_NOT_STARTED = 365;
// The preview window: its title, the list menus' entry, its status line and its messages.
inline constexpr int IDS_PREVIEW_TITLE = 370;
inline constexpr int IDS_PREVIEW_MENU = 371;
inline constexpr int IDS_PREVIEW_PAPER = 372;
inline constexpr int IDS_PREVIEW_SCALE = 373;
inline constexpr int IDS_PREVIEW_LOADING = 374;
inline constexpr int IDS_PREVIEW_HELD = 375;
inline constexpr int IDS_PREVIEW_UNSUPPORTED = 376;
inline constexpr int IDS_PREVIEW_NO_SELECTION = 377;
inline constexpr int IDS_PREVIEW_UNREADABLE = 378;
