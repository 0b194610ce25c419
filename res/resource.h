// Resource, command and timer ids, shared by the resource script and the code.
#pragma once

#define IDB_BUILTIN_PICTURE 101
#define IDB_BUILTIN_MASK 102
#define IDI_VIEWER 103

#define IDM_EXIT 40001
#define IDM_COMMENT 40002
#define IDM_SEETHROUGH 40003
#define IDM_TOPMOST 40004
#define IDM_FRAMELESS 40005

#define IDT_CLOSE 5696
