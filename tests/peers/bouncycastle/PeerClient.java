import java.math.BigInteger;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.spec.ECGenParameterSpec;
import java.util.Arrays;
import java.util.Map;
import org.bouncycastle.asn1.ASN1ObjectIdentifier;
import org.bouncycastle.asn1.DERNull;
import org.bouncycastle.asn1.cmp.CMPCertificate;
import org.bouncycastle.asn1.cmp.CertRepMessage;
import org.bouncycastle.asn1.cmp.CertResponse;
import org.bouncycastle.asn1.cmp.ErrorMsgContent;
import org.bouncycastle.asn1.cmp.PBMParameter;
import org.bouncycastle.asn1.cmp.PKIBody;
import org.bouncycastle.asn1.cmp.PKIHeader;
import org.bouncycastle.asn1.cmp.PKIStatus;
import org.bouncycastle.asn1.crmf.CertReqMessages;
import org.bouncycastle.asn1.iana.IANAObjectIdentifiers;
import org.bouncycastle.asn1.nist.NISTObjectIdentifiers;
import org.bouncycastle.asn1.pkcs.PKCSObjectIdentifiers;
import org.bouncycastle.asn1.x500.RDN;
import org.bouncycastle.asn1.x500.X500Name;
import org.bouncycastle.asn1.x509.AlgorithmIdentifier;
import org.bouncycastle.asn1.x509.GeneralName;
import org.bouncycastle.asn1.x509.SubjectPublicKeyInfo;
import org.bouncycastle.cert.X509CertificateHolder;
import org.bouncycastle.cert.cmp.CertificateConfirmationContentBuilder;
import org.bouncycastle.cert.cmp.GeneralPKIMessage;
import org.bouncycastle.cert.cmp.ProtectedPKIMessage;
import org.bouncycastle.cert.crmf.CertificateRequestMessageBuilder;
import org.bouncycastle.operator.ContentSigner;
import org.bouncycastle.operator.jcajce.JcaContentSignerBuilder;
import org.bouncycastle.operator.jcajce.JcaContentVerifierProviderBuilder;
import org.bouncycastle.operator.jcajce.JcaDigestCalculatorProviderBuilder;
import org.bouncycastle.pkcs.jcajce.JcaPKCS10CertificationRequestBuilder;

/**
 * A CMP client that enrolls a fresh EC P-256 key with a p10cr or an ir, MAC-protected with the
 * reference number as sender key identifier and the code as secret, checks the answer (same
 * transaction, our nonce echoed, MAC or signature valid, a certificate for our key issued by
 * the trusted CA certificate), and confirms it with certConf.
 *
 * <p>Usage: PeerClient --url URL --cmd p10cr|ir --ref N --secret-file F --trust CA.pem
 * --cert-out FILE [--iterations N] [--mac hmac-sha1|hmac-sha256]. Exit 0: enrolled; 1: refused or a
 * bad answer (said why).
 */
public final class PeerClient {
  static final X500Name SUBJECT = new X500Name("CN=Peer Client");

  private final Map<String, String> options;
  private final String url;
  private final String reference;
  private final String secret;
  private final X509CertificateHolder trusted;
  private final byte[] transaction = Peer.nonce();

  PeerClient(Map<String, String> options) throws Exception {
    this.options = options;
    url = Peer.required(options, "url");
    reference = Peer.required(options, "ref");
    secret =
        Files.readAllLines(Paths.get(Peer.required(options, "secret-file")), StandardCharsets.UTF_8)
            .get(0)
            .trim();
    trusted = Peer.readCertificate(Peer.required(options, "trust"));
  }

  static final class BadAnswer extends Exception {
    private static final long serialVersionUID = 1L;

    BadAnswer(String why) {
      super(why);
    }
  }

  /** Sends `body` and returns the checked answer, of type `expected` unless it refuses. */
  private GeneralPKIMessage exchange(PKIBody body, byte[] recipNonce, int expected)
      throws Exception {
    byte[] nonce = Peer.nonce();
    int iterations = Integer.parseInt(options.getOrDefault("iterations", "500"));
    ASN1ObjectIdentifier mac = options.getOrDefault("mac", "hmac-sha1").equals("hmac-sha256")
        ? PKCSObjectIdentifiers.id_hmacWithSHA256
        : IANAObjectIdentifiers.hmacSHA1;
    byte[] salt = Peer.nonce();
    PBMParameter parameters =
        new PBMParameter(salt, new AlgorithmIdentifier(NISTObjectIdentifiers.id_sha256), iterations,
            new AlgorithmIdentifier(mac, DERNull.INSTANCE));
    ProtectedPKIMessage request =
        Peer.builder(new GeneralName(SUBJECT), new GeneralName(new X500Name(new RDN[0])),
                transaction, nonce, recipNonce)
            .setSenderKID(reference.getBytes(StandardCharsets.UTF_8))
            .setBody(body)
            .build(Peer.pbm().setParameters(parameters).build(secret.toCharArray()));
    GeneralPKIMessage answer =
        new GeneralPKIMessage(Peer.post(url, request.toASN1Structure().getEncoded()));
    PKIHeader header = answer.getHeader();
    if (!Peer.sameOctets(header.getTransactionID(), transaction)) {
      throw new BadAnswer("the answer belongs to another transaction");
    }
    if (!Peer.sameOctets(header.getRecipNonce(), nonce)) {
      throw new BadAnswer("the answer does not echo our nonce");
    }
    String protection = protection(answer);
    String refusal = refusal(answer.getBody());
    if (refusal != null) {
      throw new BadAnswer("refused (" + protection + "): " + refusal);
    }
    if (!protection.equals("valid")) {
      throw new BadAnswer("answer " + protection);
    }
    if (answer.getBody().getType() != expected) {
      throw new BadAnswer("expected " + Peer.typeName(expected) + ", got "
          + Peer.typeName(answer.getBody().getType()));
    }
    return answer;
  }

  /** "valid", or what is wrong with the answer's protection. */
  private String protection(GeneralPKIMessage answer) throws Exception {
    if (!answer.hasProtection()) {
      return "unprotected";
    }
    ProtectedPKIMessage message = new ProtectedPKIMessage(answer);
    if (message.hasPasswordBasedMacProtection()) {
      return Peer.macVerifies(message, secret) ? "valid" : "with a MAC that does not verify";
    }
    boolean ok =
        message.verify(new JcaContentVerifierProviderBuilder().setProvider("BC").build(trusted));
    return ok ? "valid" : "with a signature not by the trusted CA";
  }

  /** The CA's reason when the body refuses, else null. */
  private static String refusal(PKIBody body) {
    if (body.getType() == PKIBody.TYPE_ERROR) {
      return "error message: "
          + Peer.statusText(ErrorMsgContent.getInstance(body.getContent()).getPKIStatusInfo());
    }
    if (body.getType() == PKIBody.TYPE_INIT_REP || body.getType() == PKIBody.TYPE_CERT_REP) {
      CertResponse response = CertRepMessage.getInstance(body.getContent()).getResponse()[0];
      int status = response.getStatus().getStatus().intValue();
      if (status != PKIStatus.GRANTED && status != PKIStatus.GRANTED_WITH_MODS) {
        return "status " + status + ": " + Peer.statusText(response.getStatus());
      }
    }
    return null;
  }

  void enroll() throws Exception {
    String command = Peer.required(options, "cmd");
    KeyPairGenerator generator = KeyPairGenerator.getInstance("EC", "BC");
    generator.initialize(new ECGenParameterSpec("P-256"));
    KeyPair key = generator.generateKeyPair();
    ContentSigner signer =
        new JcaContentSignerBuilder("SHA256withECDSA").setProvider("BC").build(key.getPrivate());
    PKIBody body;
    int expected;
    if (command.equals("p10cr")) {
      body = new PKIBody(PKIBody.TYPE_P10_CERT_REQ,
          new JcaPKCS10CertificationRequestBuilder(SUBJECT, key.getPublic())
              .build(signer)
              .toASN1Structure());
      expected = PKIBody.TYPE_CERT_REP;
    } else if (command.equals("ir")) {
      CertificateRequestMessageBuilder request =
          new CertificateRequestMessageBuilder(BigInteger.ZERO)
              .setSubject(SUBJECT)
              .setPublicKey(SubjectPublicKeyInfo.getInstance(key.getPublic().getEncoded()))
              .setProofOfPossessionSigningKeySigner(signer);
      body = new PKIBody(
          PKIBody.TYPE_INIT_REQ, new CertReqMessages(request.build().toASN1Structure()));
      expected = PKIBody.TYPE_INIT_REP;
    } else {
      throw new IllegalArgumentException("--cmd p10cr|ir");
    }

    GeneralPKIMessage answer = exchange(body, null, expected);
    CertRepMessage rep = CertRepMessage.getInstance(answer.getBody().getContent());
    CertResponse response = rep.getResponse()[0];
    X509CertificateHolder certificate = new X509CertificateHolder(
        response.getCertifiedKeyPair().getCertOrEncCert().getCertificate().getX509v3PKCert());
    if (!Arrays.equals(
            certificate.getSubjectPublicKeyInfo().getEncoded(), key.getPublic().getEncoded())) {
      throw new BadAnswer("the certificate is for another key");
    }
    if (!certificate.isSignatureValid(
            new JcaContentVerifierProviderBuilder().setProvider("BC").build(trusted))) {
      throw new BadAnswer("the certificate was not issued by the trusted CA");
    }
    if (!carries(rep.getCaPubs(), trusted)
        && !carries(answer.toASN1Structure().getExtraCerts(), trusted)) {
      throw new BadAnswer(
          "the answer carries the CA certificate neither in caPubs nor in extraCerts");
    }
    Peer.writePem(Peer.required(options, "cert-out"), certificate);

    PKIBody confirmation = new PKIBody(PKIBody.TYPE_CERT_CONFIRM,
        new CertificateConfirmationContentBuilder()
            .addAcceptedCertificate(certificate, response.getCertReqId().getValue())
            .build(new JcaDigestCalculatorProviderBuilder().setProvider("BC").build())
            .toASN1Structure());
    exchange(confirmation, answer.getHeader().getSenderNonce().getOctets(), PKIBody.TYPE_CONFIRM);
    System.out.println("enrolled (" + command + "): " + certificate.getSubject() + ", serial "
        + certificate.getSerialNumber().toString(16) + ", issued by " + certificate.getIssuer());
  }

  private static boolean carries(CMPCertificate[] certificates, X509CertificateHolder wanted) {
    for (int i = 0; certificates != null && i < certificates.length; ++i) {
      if (wanted.toASN1Structure().equals(certificates[i].getX509v3PKCert())) {
        return true;
      }
    }
    return false;
  }

  public static void main(String[] args) throws Exception {
    Peer.init();
    try {
      new PeerClient(Peer.options(args)).enroll();
    } catch (BadAnswer e) {
      System.out.println("peer-client: " + e.getMessage());
      System.exit(1);
    }
  }
}
