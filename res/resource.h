/* Resource ids of the updater, shared by updater.rc and the Windows sources. */
#ifndef UPDATER_RES_RESOURCE_H
#define UPDATER_RES_RESOURCE_H

#define IDD_UPDATE_DIALOG 102
#define IDI_UPDATER 128
#define IDC_DOWNLOAD_PROGRESS 1000
#define IDC_STATUS_TEXT 1001

#endif
