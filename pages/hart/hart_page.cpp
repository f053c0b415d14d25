// Handlers of the "Transparent Mode" page.
#include "app/main_window.h"

void TForm1::ConnectHartPage() {}

void TForm1::ParseIdentityReply() {}

void TForm1::ParseDynamicVariableReply() {}
