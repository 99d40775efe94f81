// The About box's (empty) message map: OK and Cancel end it as usual.
#include "ui/about_dlg.h"

BEGIN_MESSAGE_MAP(CAboutDlg, CDialog)
END_MESSAGE_MAP()
