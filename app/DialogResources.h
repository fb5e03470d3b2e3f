// The templates of the file browser and of the settings dialog.
#pragma once

// Registers both with the platform layer; part of RegisterResources.
void RegisterDialogResources();
