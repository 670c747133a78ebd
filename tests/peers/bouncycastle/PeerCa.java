import com.sun.net.httpserver.HttpExchange;
import com.sun.net.httpserver.HttpServer;
import java.io.IOException;
import java.io.OutputStream;
import java.math.BigInteger;
import java.net.InetSocketAddress;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.spec.ECGenParameterSpec;
import java.util.Date;
import java.util.HashMap;
import java.util.Map;
import org.bouncycastle.asn1.ASN1Integer;
import org.bouncycastle.asn1.ASN1ObjectIdentifier;
import org.bouncycastle.asn1.ASN1OctetString;
import org.bouncycastle.asn1.DERNull;
import org.bouncycastle.asn1.cmp.CMPCertificate;
import org.bouncycastle.asn1.cmp.CMPObjectIdentifiers;
import org.bouncycastle.asn1.cmp.CertConfirmContent;
import org.bouncycastle.asn1.cmp.CertOrEncCert;
import org.bouncycastle.asn1.cmp.CertRepMessage;
import org.bouncycastle.asn1.cmp.CertResponse;
import org.bouncycastle.asn1.cmp.CertifiedKeyPair;
import org.bouncycastle.asn1.cmp.ErrorMsgContent;
import org.bouncycastle.asn1.cmp.PBMParameter;
import org.bouncycastle.asn1.cmp.PKIBody;
import org.bouncycastle.asn1.cmp.PKIFailureInfo;
import org.bouncycastle.asn1.cmp.PKIFreeText;
import org.bouncycastle.asn1.cmp.PKIHeader;
import org.bouncycastle.asn1.cmp.PKIHeaderBuilder;
import org.bouncycastle.asn1.cmp.PKIMessage;
import org.bouncycastle.asn1.cmp.PKIStatus;
import org.bouncycastle.asn1.cmp.PKIStatusInfo;
import org.bouncycastle.asn1.crmf.CertReqMessages;
import org.bouncycastle.asn1.iana.IANAObjectIdentifiers;
import org.bouncycastle.asn1.pkcs.CertificationRequest;
import org.bouncycastle.asn1.pkcs.PKCSObjectIdentifiers;
import org.bouncycastle.asn1.x500.RDN;
import org.bouncycastle.asn1.x500.X500Name;
import org.bouncycastle.asn1.x509.BasicConstraints;
import org.bouncycastle.asn1.x509.Extension;
import org.bouncycastle.asn1.x509.GeneralName;
import org.bouncycastle.asn1.x509.KeyUsage;
import org.bouncycastle.asn1.x509.SubjectKeyIdentifier;
import org.bouncycastle.asn1.x509.SubjectPublicKeyInfo;
import org.bouncycastle.cert.X509CertificateHolder;
import org.bouncycastle.cert.X509v3CertificateBuilder;
import org.bouncycastle.cert.cmp.CertificateConfirmationContent;
import org.bouncycastle.cert.cmp.CertificateStatus;
import org.bouncycastle.cert.cmp.GeneralPKIMessage;
import org.bouncycastle.cert.cmp.ProtectedPKIMessage;
import org.bouncycastle.cert.cmp.ProtectedPKIMessageBuilder;
import org.bouncycastle.cert.crmf.CertificateRequestMessage;
import org.bouncycastle.cert.jcajce.JcaX509ExtensionUtils;
import org.bouncycastle.operator.ContentSigner;
import org.bouncycastle.operator.DigestCalculatorProvider;
import org.bouncycastle.operator.jcajce.JcaContentSignerBuilder;
import org.bouncycastle.operator.jcajce.JcaContentVerifierProviderBuilder;
import org.bouncycastle.operator.jcajce.JcaDigestCalculatorProviderBuilder;
import org.bouncycastle.pkcs.PKCS10CertificationRequest;
import org.bouncycastle.util.encoders.Hex;

/**
 * A small CMP CA over HTTP that plays one of two habits of CAs in the field:
 *
 * <p>"signed": the end entity is found by the subject name of its request (the PKCS #10 subject,
 * or the certificate template's), the sender key identifier is ignored, the request's MAC is
 * checked with the secret registered for that subject, and every answer is signed with the CA
 * key (CA certificate in extraCerts) instead of carrying a MAC. A client must trust that key.
 *
 * <p>"pbm": the secret is found by the sender key identifier (the reference number), answers
 * carry a MAC of 1024 iterations, only HMAC-SHA1 is accepted as the MAC, and requests whose
 * iteration count is above 2047 are refused, saying why.
 *
 * <p>Either way the certificate certifies the request's key under the registered subject, the
 * CA certificate goes into caPubs and extraCerts, and certConf gets pkiConf. Users come from a
 * file of lines "REFERENCE SECRET SUBJECT"; all state is in memory.
 *
 * <p>Usage: PeerCa --mode signed|pbm --users FILE --ca-cert-out FILE [--port N]
 */
public final class PeerCa {
  static final int ANSWER_ITERATIONS = 1024;
  static final int MAX_ITERATIONS = 2047;
  // A p10cr has no certReqId of its own; its answer names -1, as current CMP profiles ask.
  static final BigInteger P10CR_ID = BigInteger.ONE.negate();

  record User(String reference, String secret, X500Name subject) {}

  /** An issued certificate waiting for its certConf. */
  record Pending(User user, X509CertificateHolder certificate, BigInteger requestId, byte[] nonce) {
  }

  /** A refusal with what the client is told. */
  static final class Refusal extends Exception {
    private static final long serialVersionUID = 1L;
    final int failInfo;
    final boolean canProtect; // false when the request's own protection did not verify

    Refusal(int failInfo, String text, boolean canProtect) {
      super(text);
      this.failInfo = failInfo;
      this.canProtect = canProtect;
    }
  }

  private final boolean signedMode;
  private final Map<String, User> byReference = new HashMap<>();
  private final Map<X500Name, User> bySubject = new HashMap<>();
  private final Map<String, Pending> pending = new HashMap<>(); // by transaction ID (hex)
  private final KeyPair caKey;
  private final X509CertificateHolder caCert;
  private final DigestCalculatorProvider digests;
  private byte[] sentNonce; // the senderNonce of the last answer

  PeerCa(boolean signedMode, String usersFile) throws Exception {
    this.signedMode = signedMode;
    for (String line : Files.readAllLines(Paths.get(usersFile), StandardCharsets.UTF_8)) {
      String[] fields = line.trim().split("\\s+", 3);
      if (fields.length < 3 || fields[0].startsWith("#")) {
        continue;
      }
      User user = new User(fields[0], fields[1], new X500Name(fields[2]));
      byReference.put(user.reference(), user);
      bySubject.put(user.subject(), user);
    }
    KeyPairGenerator generator = KeyPairGenerator.getInstance("EC", "BC");
    generator.initialize(new ECGenParameterSpec("P-256"));
    caKey = generator.generateKeyPair();
    X500Name name = new X500Name("CN=Peer Test CA " + (signedMode ? "signed" : "pbm"));
    JcaX509ExtensionUtils extensions = new JcaX509ExtensionUtils();
    Date now = new Date();
    caCert =
        new X509v3CertificateBuilder(name, Peer.serial(), new Date(now.getTime() - 60_000),
            new Date(now.getTime() + 86_400_000L), name,
            SubjectPublicKeyInfo.getInstance(caKey.getPublic().getEncoded()))
            .addExtension(Extension.basicConstraints, true, new BasicConstraints(true))
            // digitalSignature too: the CA key signs the answers in "signed" mode, and
            // OpenSSL's client wants that usage on the signer's certificate.
            .addExtension(Extension.keyUsage, true,
                new KeyUsage(KeyUsage.digitalSignature | KeyUsage.keyCertSign | KeyUsage.cRLSign))
            .addExtension(Extension.subjectKeyIdentifier, false,
                extensions.createSubjectKeyIdentifier(caKey.getPublic()))
            .build(signer());
    digests = new JcaDigestCalculatorProviderBuilder().setProvider("BC").build();
  }

  private ContentSigner signer() throws Exception {
    return new JcaContentSignerBuilder("SHA256withECDSA")
        .setProvider("BC")
        .build(caKey.getPrivate());
  }

  /** One request in, one answer out; never throws for a bad request. */
  synchronized byte[] answer(byte[] der) throws Exception {
    GeneralPKIMessage request;
    try {
      request = new GeneralPKIMessage(der);
    } catch (Exception | Error e) {
      log("undecodable request: " + e.getMessage());
      return errorMessage(
          null, null, PKIFailureInfo.badDataFormat, "the request is not a CMP message");
    }
    PKIHeader header = request.getHeader();
    int type = request.getBody().getType();
    log(Peer.typeName(type) + " in: " + describe(header));
    User user = null;
    try {
      switch (type) {
        case PKIBody.TYPE_INIT_REQ:
        case PKIBody.TYPE_CERT_REQ:
        case PKIBody.TYPE_P10_CERT_REQ:
          user = findUser(request);
          checkProtection(request, user);
          return certResponse(request, user);
        case PKIBody.TYPE_CERT_CONFIRM:
          Pending waiting = pending.get(hex(octets(header.getTransactionID())));
          if (waiting == null) {
            throw new Refusal(
                PKIFailureInfo.badRequest, "no certificate waits in this transaction", false);
          }
          user = waiting.user();
          checkProtection(request, user);
          if (!Peer.sameOctets(header.getRecipNonce(), waiting.nonce())) {
            throw new Refusal(PKIFailureInfo.badRecipientNonce,
                "certConf does not echo the answer's nonce", true);
          }
          return confirm(request, waiting);
        case PKIBody.TYPE_ERROR: // the client gave up; it is told that was heard
          log("error from the client: "
              + Peer.statusText(
                  ErrorMsgContent.getInstance(request.getBody().getContent()).getPKIStatusInfo()));
          return protect(request, null, new PKIBody(PKIBody.TYPE_CONFIRM, DERNull.INSTANCE));
        default:
          throw new Refusal(
              PKIFailureInfo.badRequest, Peer.typeName(type) + " is not served here", false);
      }
    } catch (RuntimeException e) { // a body that does not parse as its type says
      log(Peer.typeName(type) + " malformed: " + e);
      return errorMessage(
          request, null, PKIFailureInfo.badDataFormat, "malformed " + Peer.typeName(type));
    } catch (Refusal refusal) {
      log(Peer.typeName(type) + " refused: " + refusal.getMessage());
      User protector = refusal.canProtect ? user : null;
      if (type == PKIBody.TYPE_CERT_CONFIRM || user == null) {
        return errorMessage(request, protector, refusal.failInfo, refusal.getMessage());
      }
      PKIStatusInfo status = new PKIStatusInfo(PKIStatus.rejection,
          new PKIFreeText(refusal.getMessage()), new PKIFailureInfo(refusal.failInfo));
      BigInteger id = type == PKIBody.TYPE_P10_CERT_REQ ? P10CR_ID : requestId(request);
      CertRepMessage rep = new CertRepMessage(
          null, new CertResponse[] {new CertResponse(new ASN1Integer(id), status)});
      return protect(request, protector, new PKIBody(replyType(type), rep));
    }
  }

  /** "signed" looks at the request's subject; "pbm" at the sender key identifier. */
  private User findUser(GeneralPKIMessage request) throws Refusal {
    if (!signedMode) {
      String reference = Peer.utf8(request.getHeader().getSenderKID());
      User user = byReference.get(reference);
      if (user == null) {
        throw new Refusal(
            PKIFailureInfo.badRequest, "unknown reference number '" + reference + "'", false);
      }
      return user;
    }
    X500Name subject = requestSubject(request);
    User user = subject == null ? null : bySubject.get(subject);
    if (user == null) {
      throw new Refusal(PKIFailureInfo.badRequest, "no end entity named '" + subject + "'", false);
    }
    return user;
  }

  private static X500Name requestSubject(GeneralPKIMessage request) {
    PKIBody body = request.getBody();
    if (body.getType() == PKIBody.TYPE_P10_CERT_REQ) {
      return new PKCS10CertificationRequest(CertificationRequest.getInstance(body.getContent()))
          .getSubject();
    }
    return CertReqMessages.getInstance(body.getContent())
        .toCertReqMsgArray()[0]
        .getCertReq()
        .getCertTemplate()
        .getSubject();
  }

  /**
   * The request must carry a MAC that verifies with the user's secret. "pbm" first holds its
   * parameters to its limits, so the client is told which one it broke.
   */
  private void checkProtection(GeneralPKIMessage request, User user) throws Refusal {
    if (!request.hasProtection()) {
      throw new Refusal(PKIFailureInfo.badMessageCheck, "the request is not protected", false);
    }
    ProtectedPKIMessage message = new ProtectedPKIMessage(request);
    if (!message.hasPasswordBasedMacProtection()) {
      throw new Refusal(
          PKIFailureInfo.badAlg, "only password-based MAC protection is accepted", false);
    }
    PBMParameter parameters =
        PBMParameter.getInstance(request.getHeader().getProtectionAlg().getParameters());
    if (!signedMode) {
      ASN1ObjectIdentifier mac = parameters.getMac().getAlgorithm();
      if (!mac.equals(IANAObjectIdentifiers.hmacSHA1)
          && !mac.equals(PKCSObjectIdentifiers.id_hmacWithSHA1)) {
        throw new Refusal(
            PKIFailureInfo.badAlg, "PBM MAC " + mac + " is not accepted: only HMAC-SHA1 is", true);
      }
      int iterations = parameters.getIterationCount().intValueExact();
      if (iterations > MAX_ITERATIONS) {
        throw new Refusal(PKIFailureInfo.badAlg,
            "PBM iteration count " + iterations + " is above the limit of " + MAX_ITERATIONS, true);
      }
    }
    if (!Peer.macVerifies(message, user.secret())) {
      throw new Refusal(PKIFailureInfo.badMessageCheck,
          "the request's MAC does not verify with the user's secret", false);
    }
  }

  private byte[] certResponse(GeneralPKIMessage request, User user) throws Exception {
    int type = request.getBody().getType();
    SubjectPublicKeyInfo key;
    BigInteger id;
    if (type == PKIBody.TYPE_P10_CERT_REQ) {
      PKCS10CertificationRequest csr = new PKCS10CertificationRequest(
          CertificationRequest.getInstance(request.getBody().getContent()));
      if (!csr.isSignatureValid(new JcaContentVerifierProviderBuilder().setProvider("BC").build(
              csr.getSubjectPublicKeyInfo()))) {
        throw new Refusal(
            PKIFailureInfo.badPOP, "the PKCS #10 request's signature does not verify", true);
      }
      key = csr.getSubjectPublicKeyInfo();
      id = P10CR_ID;
    } else {
      CertificateRequestMessage crm = new CertificateRequestMessage(
          CertReqMessages.getInstance(request.getBody().getContent()).toCertReqMsgArray()[0]);
      key = crm.getCertTemplate().getPublicKey();
      if (key == null) {
        throw new Refusal(PKIFailureInfo.badCertTemplate, "the template has no public key", true);
      }
      if (crm.getProofOfPossessionType() != CertificateRequestMessage.popSigningKey
          || !crm.isValidSigningKeyPOP(
              new JcaContentVerifierProviderBuilder().setProvider("BC").build(key))) {
        throw new Refusal(PKIFailureInfo.badPOP, "the proof of possession does not verify", true);
      }
      id = crm.toASN1Structure().getCertReq().getCertReqId().getValue();
    }
    Date now = new Date();
    X509CertificateHolder issued =
        new X509v3CertificateBuilder(caCert.getSubject(), Peer.serial(),
            new Date(now.getTime() - 60_000), new Date(now.getTime() + 30L * 86_400_000L),
            user.subject(), key)
            .addExtension(Extension.basicConstraints, true, new BasicConstraints(false))
            .addExtension(Extension.authorityKeyIdentifier, false,
                new JcaX509ExtensionUtils().createAuthorityKeyIdentifier(
                    caCert.toASN1Structure().getSubjectPublicKeyInfo()))
            .build(signer());
    CertResponse response =
        new CertResponse(new ASN1Integer(id), new PKIStatusInfo(PKIStatus.granted),
            new CertifiedKeyPair(new CertOrEncCert(new CMPCertificate(issued.toASN1Structure()))),
            null);
    CertRepMessage rep =
        new CertRepMessage(new CMPCertificate[] {new CMPCertificate(caCert.toASN1Structure())},
            new CertResponse[] {response});
    log(Peer.typeName(type) + " from " + user.subject() + ": issued serial "
        + issued.getSerialNumber().toString(16));
    byte[] answer = protect(request, user, new PKIBody(replyType(type), rep));
    pending.put(hex(octets(request.getHeader().getTransactionID())),
        new Pending(user, issued, id, sentNonce));
    return answer;
  }

  /** certConf: each status must name the pending certificate by its hash; then pkiConf. */
  private byte[] confirm(GeneralPKIMessage request, Pending waiting) throws Exception {
    CertificateConfirmationContent content = new CertificateConfirmationContent(
        CertConfirmContent.getInstance(request.getBody().getContent()));
    CertificateStatus[] statuses = content.getStatusMessages();
    if (statuses.length != 1) {
      throw new Refusal(PKIFailureInfo.badRequest,
          "certConf must hold one status, holds " + statuses.length, true);
    }
    CertificateStatus status = statuses[0];
    if (!status.getCertRequestID().equals(waiting.requestId())) {
      throw new Refusal(
          PKIFailureInfo.badRequest, "certConf names request " + status.getCertRequestID(), true);
    }
    if (!status.isVerified(waiting.certificate(), digests)) {
      throw new Refusal(
          PKIFailureInfo.badCertId, "certConf's hash is not the issued certificate's", true);
    }
    PKIStatusInfo info = status.getStatusInfo();
    boolean accepted = info == null || info.getStatus().intValue() == PKIStatus.GRANTED;
    pending.remove(hex(octets(request.getHeader().getTransactionID())));
    log("certConf from " + waiting.user().subject() + ": "
        + (accepted ? "accepted" : "rejected (" + Peer.statusText(info) + ")"));
    return protect(request, waiting.user(), new PKIBody(PKIBody.TYPE_CONFIRM, DERNull.INSTANCE));
  }

  private byte[] errorMessage(GeneralPKIMessage request, User user, int failInfo, String text)
      throws Exception {
    ErrorMsgContent error = new ErrorMsgContent(new PKIStatusInfo(
        PKIStatus.rejection, new PKIFreeText(text), new PKIFailureInfo(failInfo)));
    return protect(request, user, new PKIBody(PKIBody.TYPE_ERROR, error));
  }

  /**
   * The answer to `request` (none: undecodable) with `body`: same transaction, the request's
   * nonce echoed, the CA as sender. "signed" signs every answer; "pbm" MACs it with the user's
   * secret at 1024 iterations, and sends it unprotected when it cannot tell whose secret to use.
   */
  private byte[] protect(GeneralPKIMessage request, User user, PKIBody body) throws Exception {
    PKIHeader header = request == null ? null : request.getHeader();
    GeneralName sender = new GeneralName(caCert.getSubject());
    GeneralName recipient =
        header != null ? header.getSender() : new GeneralName(new X500Name(new RDN[0]));
    byte[] transaction = octets(header == null ? null : header.getTransactionID());
    byte[] recipNonce = octets(header == null ? null : header.getSenderNonce());
    if (transaction == null) {
      transaction = Peer.nonce();
    }
    sentNonce = Peer.nonce();
    if (!signedMode && user == null) {
      PKIHeaderBuilder plain = new PKIHeaderBuilder(PKIHeader.CMP_2000, sender, recipient)
                                   .setTransactionID(transaction)
                                   .setSenderNonce(sentNonce);
      if (recipNonce != null) {
        plain.setRecipNonce(recipNonce);
      }
      return new PKIMessage(plain.build(), body).getEncoded();
    }
    ProtectedPKIMessageBuilder builder =
        Peer.builder(sender, recipient, transaction, sentNonce, recipNonce)
            .setBody(body)
            .addCMPCertificate(caCert);
    if (signedMode) {
      builder.setSenderKID(
          SubjectKeyIdentifier.fromExtensions(caCert.getExtensions()).getKeyIdentifier());
      return builder.build(signer()).toASN1Structure().getEncoded();
    }
    builder.setSenderKID(user.reference().getBytes(StandardCharsets.UTF_8));
    return builder
        .build(Peer.pbm().setIterationCount(ANSWER_ITERATIONS).build(user.secret().toCharArray()))
        .toASN1Structure()
        .getEncoded();
  }

  private static byte[] octets(ASN1OctetString octets) {
    return octets == null ? null : octets.getOctets();
  }

  private static int replyType(int requestType) {
    return requestType == PKIBody.TYPE_INIT_REQ ? PKIBody.TYPE_INIT_REP : PKIBody.TYPE_CERT_REP;
  }

  private static BigInteger requestId(GeneralPKIMessage request) {
    try {
      return CertReqMessages.getInstance(request.getBody().getContent())
          .toCertReqMsgArray()[0]
          .getCertReq()
          .getCertReqId()
          .getValue();
    } catch (RuntimeException e) {
      return BigInteger.ZERO;
    }
  }

  /** The header fields a CA looks at, for the log. */
  private static String describe(PKIHeader header) {
    String text = "pvno " + header.getPvno() + ", sender " + header.getSender().getName()
        + ", recipient " + header.getRecipient().getName() + ", senderKID '"
        + Peer.utf8(header.getSenderKID()) + "'";
    if (header.getProtectionAlg() != null
        && header.getProtectionAlg().getAlgorithm().equals(CMPObjectIdentifiers.passwordBasedMac)) {
      PBMParameter pbm = PBMParameter.getInstance(header.getProtectionAlg().getParameters());
      text += ", PBM owf " + pbm.getOwf().getAlgorithm() + " x" + pbm.getIterationCount() + " mac "
          + pbm.getMac().getAlgorithm();
    }
    return text;
  }

  private static String hex(byte[] bytes) {
    return bytes == null ? "" : Hex.toHexString(bytes);
  }

  private static void log(String line) {
    System.err.println("peer-ca: " + line);
  }

  private void handle(HttpExchange exchange) throws IOException {
    try (exchange) {
      if (!"POST".equals(exchange.getRequestMethod())) {
        exchange.sendResponseHeaders(405, -1);
        return;
      }
      byte[] answer;
      try {
        answer = answer(Peer.readAll(exchange.getRequestBody()));
      } catch (Exception e) {
        log("internal error: " + e);
        exchange.sendResponseHeaders(500, -1);
        return;
      }
      exchange.getResponseHeaders().set("Content-Type", Peer.CONTENT_TYPE);
      exchange.sendResponseHeaders(200, answer.length);
      try (OutputStream out = exchange.getResponseBody()) {
        out.write(answer);
      }
    }
  }

  public static void main(String[] args) throws Exception {
    Peer.init();
    Map<String, String> options = Peer.options(args);
    String mode = Peer.required(options, "mode");
    if (!mode.equals("signed") && !mode.equals("pbm")) {
      throw new IllegalArgumentException("--mode signed|pbm");
    }
    PeerCa ca = new PeerCa(mode.equals("signed"), Peer.required(options, "users"));
    Peer.writePem(Peer.required(options, "ca-cert-out"), ca.caCert);
    HttpServer server = HttpServer.create(
        new InetSocketAddress("127.0.0.1", Integer.parseInt(options.getOrDefault("port", "0"))), 0);
    server.createContext("/", ca::handle);
    server.start();
    System.out.println("listening http://127.0.0.1:" + server.getAddress().getPort() + "/");
    System.out.flush();
  }
}
