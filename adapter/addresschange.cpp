#include "window/serverinterface.h"

void ServerInterface::slotModify()
{
}
