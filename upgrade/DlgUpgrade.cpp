#include "DlgUpgrade.h"

#include "res/resource.h"

CDlgUpgrade::CDlgUpgrade() : CDialog(IDD_UPGRADE) {}
