// Resource identifiers of quorvenal.exe, shared by the resource script and the code.
#ifndef QUORVENAL_RESOURCE_H
#define QUORVENAL_RESOURCE_H

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDR_MAINFRAME 128
#define IDD_QUORVENAL_DIALOG 102
#define IDC_DEVICE_LIST 1000
#define IDC_RESCAN_BUS 1001
#define IDC_REGISTER_LIST 1002
#define IDC_SLOT_EDIT1 1004
#define IDC_RELOAD1 1008
#define IDC_RELOAD2 1009
#define IDC_RELOAD3 1010
#define IDC_RELOAD4 1011
#define IDC_RELOAD5 1012
#define IDC_SAVE1 1013
#define IDC_SAVE2 1014
#define IDC_SAVE3 1015
#define IDC_SAVE4 1016
#define IDC_SAVE5 1017
#define IDC_SLOT_EDIT2 1018
#define IDC_SLOT_EDIT3 1019
#define IDC_SLOT_EDIT4 1020
#define IDC_SLOT_EDIT5 1021

#endif
