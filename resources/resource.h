// Resource ids of the plug-in's dialogs and controls.
#pragma once

#define IDD_VOICE_PAGE 101
#define IDD_TEXT_INFO 102
#define IDD_HOTKEY_PAGE 103

#define IDC_SAMPLE_RATE_LIST 1000
#define IDC_8_BIT 1001
#define IDC_16_BIT 1002
#define IDC_MONO 1003
#define IDC_STEREO 1004
#define IDC_VOICE_LIST 1005
#define IDC_RATE_LABEL 1006
#define IDC_RATE_SLIDER 1007
#define IDC_USE_HOTKEY 1008
#define IDC_HOTKEY 1009
#define IDC_DOCUMENTS 1010
#define IDC_SEEKABLE 1011

#define IDC_INFO_TEXT 1000
