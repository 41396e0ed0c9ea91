// Resource ids of the program. Ids only: included by C++ and resource scripts.
#pragma once

// Dialog template
#define IDD_MORVANE2NEW_DIALOG 135

// Controls of template 135
#define IDC_CB_BAUD              1037
#define IDC_CB_PORT              1038
#define IDC_EDIT_BT_NAME         1041
#define IDC_EDIT_BT_ADDR         1042
#define IDC_EDIT_PAIR_PASS       1043
#define IDC_BTN_OPEN             1051
#define IDC_BTN_READ_BT_NAME     1052
#define IDC_BTN_SET_BT_NAME      1053
#define IDC_BTN_READ_BT_ADDR     1054
#define IDC_BTN_SET_BT_ADDR      1055
#define IDC_BTN_READ_PAIR_PASS   1056
#define IDC_BTN_SET_PAIR_PASS    1057
#define IDC_BTN_SET_VISIBLE      1058
#define IDC_BTN_SET_BT_MODE      1059
#define IDC_BTN_SET_BAUD         1061
#define IDC_BTN_SET_BEEP         1062
#define IDC_BTN_SET_SLEEP_TIME   1063
#define IDC_BTN_SET_CHINESE_MODE 1064
#define IDC_BTN_SET_MARK_SENS    1065
#define IDC_BTN_SET_GAP_SENS     1066
#define IDC_BTN_SET_POSITION     1067
#define IDC_BTN_SET_SENSOR       1068
#define IDC_BTN_SET_DARKNESS     1069
#define IDC_BTN_SET_CMD_SET      1070
#define IDC_CB_VISIBLE           1071
#define IDC_CB_BT_MODE           1072
#define IDC_CB_SET_BAUD          1073
#define IDC_CB_DARKNESS          1074
#define IDC_CB_BEEP              1075
#define IDC_CB_SLEEP_TIME        1076
#define IDC_CB_CHINESE_MODE      1077
#define IDC_CB_MARK_SENS         1078
#define IDC_CB_GAP_SENS          1079
#define IDC_BTN_SET_PAPER_WIDTH  1080
#define IDC_EDIT_POSITION        1083
#define IDC_SPIN_POSITION        1084
#define IDC_CB_LANGUAGE          1085
#define IDC_BTN_SET_LANGUAGE     1086
#define IDC_CB_SENSOR            1088
#define IDC_CB_CMD_SET           1089
#define IDC_CB_PAPER_WIDTH       1090

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// String table
#define IDS_LANG_CHINESE        102
#define IDS_LANG_ENGLISH        103
#define IDS_VISIBLE             104
#define IDS_INVISIBLE           105
#define IDS_ENABLE              106
#define IDS_DISABLE             107
#define IDS_OPEN                108
#define IDS_CLOSE               109
#define IDS_SIMPLIFIED_CHINESE  110
#define IDS_TRADITIONAL_CHINESE 111
#define IDS_CMD_CPCL            112
#define IDS_CMD_ESCPOS          113
#define IDS_SENSOR_GAP_ONLY     114
#define IDS_SENSOR_RIGHT_MARK1  115
#define IDS_SENSOR_RIGHT_MARK2  116
#define IDS_SENSOR_LEFT_MARK1   117
#define IDS_SENSOR_LEFT_MARK2   118
#define IDS_SENSOR_NONE         119
#define IDS_CONNECT             120
#define IDS_PROMPT              121
#define IDS_OPEN_PORT_FIRST     122
#define IDS_PRINTER_NO_ANSWER   123
#define IDS_REQUEST_SEND_FAIL   124
#define IDS_SET_FAIL            125
#define IDS_SET_SUCCESS         126
#define IDS_READ_FAIL           127
#define IDS_PORT_OPEN_FAIL      128
