// Shell calls: path checks, folders, temporary path, the folder browser, the open-file dialog and opening a file with the desktop's viewer.
#pragma once

