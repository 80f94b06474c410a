#pragma once

#define IDD_TEST 200
#define IDC_TEST_EDIT 201
#define IDC_TEST_CHECK 202
#define IDC_TEST_ADDRESS 203
#define IDC_TEST_BUTTON 204
#define IDC_TEST_LABEL 205

// A report-view list on its own, for the sortable list's tests.
#define IDD_TEST_LIST 210
#define IDC_TEST_LIST 211

// One of each skinned control, declared as the plain controls the real templates use.
#define IDD_TEST_SKIN 220
#define IDC_SKIN_BUTTON 221
#define IDC_SKIN_EDIT 222
#define IDC_SKIN_LABEL 223
#define IDC_SKIN_PROGRESS 224
