// userfile: the per-user settings file, opened in the main file's place for a while and
// closed again.
#pragma once

void openuserini();
void closeuserini();
