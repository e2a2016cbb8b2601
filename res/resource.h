// Resource and control identifiers, shared by the resource script and the code.
#pragma once

// Dialogs
#define IDD_MAIN 100

// Icons: the standard set, the alternative set, the meter template
#define IDI_STD_IDLE 147
#define IDI_STD_READ 137
#define IDI_STD_WRITE 138
#define IDI_STD_READWRITE 146
#define IDI_ALT_IDLE 107
#define IDI_ALT_READ 139
#define IDI_ALT_WRITE 140
#define IDI_ALT_READWRITE 141
#define IDI_METER 148
#define IDI_APP IDI_ALT_READWRITE

// Controls of dialog 100
#define IDC_STATIC (-1)
#define IDC_APPLY 1
#define IDC_QUIT 2
#define IDC_MONITORING 102
#define IDC_SHOW_IN_TRAY 103
#define IDC_START 109
#define IDC_PORT_OUTPUT 111
#define IDC_READ_BIT1 114
#define IDC_READ_BIT2 115
#define IDC_READ_BIT3 120
#define IDC_READ_BIT4 121
#define IDC_READ_BIT5 122
#define IDC_READ_BIT6 123
#define IDC_READ_BIT7 124
#define IDC_READ_BIT8 125
#define IDC_WRITE_BIT3 128
#define IDC_WRITE_BIT4 129
#define IDC_WRITE_BIT5 130
#define IDC_WRITE_BIT6 131
#define IDC_WRITE_BIT7 132
#define IDC_WRITE_BIT8 133
#define IDC_WRITE_BIT2 134
#define IDC_WRITE_BIT1 135
#define IDC_START_WITH_OS 136
#define IDC_GLOBAL_OPTIONS 142
#define IDC_POLL_INTERVAL 143
#define IDC_UNIT_LIST 145
#define IDC_ABOUT 149
#define IDC_STARTUP_DELAY 150
#define IDC_HIDE 151
#define IDC_ALTERNATIVE_ICONS 152
#define IDC_SINGLE_ICON 154
#define IDC_METER_INTERVAL 156
#define IDC_KEYBOARD_LED 157
#define IDC_ONLINE_HELP 158
#define IDC_STATIC_ICON 159

// Timers of the main dialog
#define TIMER_POLL 1025
#define TIMER_LIST 1026
#define TIMER_REDRAW 1029

// Messages of the program
#define WM_TRAY_CALLBACK (WM_USER + 6)
#define WM_DELAYED_START WM_APP
