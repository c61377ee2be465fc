/* Who holds the server's record: the actors it starts and the caller, the
 * last of them to let go releases it. A leaf of the server's files, so that
 * the server's life and its discovery responder both start actors without
 * calling each other. */
#include <stdlib.h>

#include "aDebug.h"
#include "aServerInternal.h"
#include "aZeroMQ.h"

/* The beacon (the broker polls it), the sockets and the record itself. */
static void sRelease(void* shared)
{
    aServer* server = (aServer*)shared;
    aZeroMQ_StopActor(&server->beacon, server->stopDeadline);
    zsock_destroy(&server->syncBroker);
    zsock_destroy(&server->syncWorker);
    zsock_destroy(&server->streamBroker);
    zsock_destroy(&server->streamFilter);
    zsock_destroy(&server->frontend);
    aDEBUG_TRACE(aDEBUG_SERVER, "server task exit\n");
    server->check = 0;
    free(server);
}

zactor_t* _aServer_StartActor(aServer* server, zactor_fn* task)
{
    return aZeroMQ_StartActor(task, server, &server->holders, sRelease);
}

bool _aServer_LetGo(aServer* server)
{
    return aZeroMQ_LetGo(&server->holders, sRelease, server);
}
