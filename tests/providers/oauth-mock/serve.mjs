// A real OAuth 2 authorization server (oauth2-mock-server) on 127.0.0.1 for the browser sign-in
// test. Prints one JSON line per event: "ready" with the issuer URL, then every authorization
// redirect and token answer. Ends when its standard input closes.
import { OAuth2Server } from 'oauth2-mock-server';

const print = (event) => process.stdout.write(JSON.stringify(event) + '\n');
const server = new OAuth2Server();
await server.issuer.keys.generate('RS256');
server.service.on('beforeAuthorizeRedirect', (redirect, req) => {
  print({ event: 'authorize', request: req.url, redirect: redirect.url.href });
});
server.service.on('beforeResponse', (response, req) => {
  print({ event: 'token', form: req.body, status: response.statusCode });
});
await server.start(0, '127.0.0.1');
print({ event: 'ready', url: server.issuer.url });
process.stdin.on('end', () => server.stop().then(() => process.exit(0)));
process.stdin.resume();
