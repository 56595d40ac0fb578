#pragma once

// Called first in every entry point: DLLs that system DLLs load later by bare name are
// looked for in System32 only, never beside the executable or in the current folder.
// Where the system lacks SetDefaultDllDirectories (before the KB2533623 update), the
// current folder is at least removed from the search.
void UseSafeDllSearch();
