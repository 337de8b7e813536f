#pragma once

// Identifiers of the main dialog, the About box and their resources.

inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDD_VISTAROPLAYER_DIALOG = 102;
inline constexpr int IDR_MAINFRAME = 128;
inline constexpr int IDB_VIDEO_AREA = 130;
inline constexpr int IDI_PLAY = 131;
inline constexpr int IDI_PAUSE = 132;
inline constexpr int IDI_OPEN = 133;

inline constexpr int IDM_ABOUTBOX = 0x0010;

inline constexpr int IDC_VIDEO_AREA = 1000;
inline constexpr int IDC_PLAY = 1002;
inline constexpr int IDC_GOOD_PACKETS = 1003;
inline constexpr int IDC_BAD_PACKETS = 1004;
inline constexpr int IDC_PAUSE = 1011;
inline constexpr int IDC_LOAD = 1012;
inline constexpr int IDC_EXPORT_KML = 1013;
inline constexpr int IDC_RANGE = 1016;
inline constexpr int IDC_TILT = 1017;
inline constexpr int IDC_SEEK = 1018;
inline constexpr int IDC_PLANE_ICON = 1019;
inline constexpr int IDC_PILOTS_EYE = 1020;
inline constexpr int IDC_MOVING_MAP_STATIC = 1021;
inline constexpr int IDC_MOVING_MAP_MOVING = 1022;
inline constexpr int IDC_GOOGLE_LINK = 1023;
inline constexpr int IDC_SHOW_GROUND_TRACK = 1024;
inline constexpr int IDC_LIVE_CAPTURE = 1025;
inline constexpr int IDC_CAPTURE_PROPERTIES = 1026;
inline constexpr int IDC_PLOT = 1027;
inline constexpr int IDC_CLEAR_KML = 1028;
inline constexpr int IDC_SHOW_UPLINK = 1029;
inline constexpr int IDC_SHOW_POSITIONAL = 1030;
inline constexpr int IDC_SWAP_AUDIO = 1031;
inline constexpr int IDC_SEPARATOR = 1032;
inline constexpr int IDC_SHOW_BATTERY = 1033;
inline constexpr int IDC_LOS_CALCULATOR = 1034;
inline constexpr int IDC_EXPORT_HISTORY = 1035;
inline constexpr int IDC_TELEMETRY_RATE = 1036;
inline constexpr int IDC_EXCEL_PROBE = 1038;
inline constexpr int IDC_TIME_LABEL = 1039;

// Where the resources live in the program's resource tree.
inline constexpr const char* kAppIcon48 = ":/icons/app-48.png";
inline constexpr const char* kAppIcon32 = ":/icons/app-32.png";
inline constexpr const char* kPlayIcon = ":/icons/play-32.png";
inline constexpr const char* kPauseIcon = ":/icons/pause-32.png";
inline constexpr const char* kOpenIcon = ":/icons/open-32.png";
inline constexpr const char* kVideoAreaPicture = ":/images/video-area.png";
