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
