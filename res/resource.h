// Identifiers of the resources and of the dialog items. The numbers are part of the program's
// identity (saved column widths are keyed by the list's identifier), so they never change.
#pragma once

#define IDI_MAIN 153
#define IDB_BACKGROUND 160

// Main window, dialog template 102.
#define IDD_MAIN 102
#define IDC_DEVICE_LIST 1000
#define IDC_SEARCH 1001
#define IDC_MODIFY_TAB 1002
#define IDC_UPGRADE_TAB 1003
#define IDC_MODIFY_IP 1004
#define IDC_NEW_IP 1005
#define IDC_NETMASK 1006
#define IDC_GATEWAY 1007
#define IDC_OLD_IP 1008
#define IDC_DHCP 1009
#define IDC_DNS 1010
#define IDC_CLOSE 1011
#define IDC_TITLE 1012
#define IDC_OLD_IP_CAPTION 1013
#define IDC_NEW_IP_CAPTION 1014
#define IDC_NETMASK_CAPTION 1015
#define IDC_GATEWAY_CAPTION 1016
#define IDC_MINIMIZE 1017
#define IDC_DNS_CAPTION 1018
#define IDC_HTTP_PORT_CAPTION 1019
#define IDC_RTSP_PORT_CAPTION 1020
#define IDC_MOBILE_PORT_CAPTION 1021
#define IDC_HTTP_PORT 1022
#define IDC_RTSP_PORT 1023
#define IDC_PASSWORD_CAPTION 1024
#define IDC_MOBILE_PORT 1025
#define IDC_PASSWORD 1026
#define IDC_USERNAME_CAPTION 1027
#define IDC_USERNAME 1028
#define IDC_DHCP_CAPTION 1029
#define IDC_UNUSED_COMBO 1037
#define IDC_VERSION 1038

// Upgrade panel, dialog template 161.
#define IDD_UPGRADE 161
#define IDC_UPG_PASSWORD_CAPTION 1024
#define IDC_UPG_NOTE_CAPTION 1025
#define IDC_UPG_FILE_PATH 1028
#define IDC_UPG_PROGRESS 1029
#define IDC_UPG_USERNAME 1030
#define IDC_UPG_PASSWORD 1031
#define IDC_UPG_FILE_CAPTION 1032
#define IDC_UPG_BROWSE 1033
#define IDC_UPG_STATUS_CAPTION 1034
#define IDC_UPG_USERNAME_CAPTION 1035
#define IDC_UPG_UPGRADE 1036
#define IDC_UPG_NOTE 1037
